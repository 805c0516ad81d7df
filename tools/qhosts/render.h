// How records look on a terminal.
#ifndef QHOSTS_RENDER_H
#define QHOSTS_RENDER_H

#include <vector>

#include "records.h"

// An aligned table: index, state, address, name, comment.
void print_table(const std::vector<record> &records);

#endif
