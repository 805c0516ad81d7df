// How records and findings look on a terminal and as JSON.
#ifndef QHOSTS_RENDER_H
#define QHOSTS_RENDER_H

#include <string>
#include <vector>

#include "records.h"

// An aligned table of the records at `shown`: index, state, address, name,
// comment.
void print_table(const std::vector<record> &records, const std::vector<int> &shown);

// One line per problem that `qhosts check` found; as JSON, one object per line.
void print_problems(const std::vector<record> &records, const std::vector<problem> &problems,
                    bool json);

// "IP NAME" or "IP NAME # COMMENT", as a change report shows a record.
std::string record_summary(const record &rec);

#endif
