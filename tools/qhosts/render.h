// How records and findings look on a terminal, in plain columns and as JSON.
#ifndef QHOSTS_RENDER_H
#define QHOSTS_RENDER_H

#include <string>
#include <vector>

#include "lines.h"
#include "records.h"

// An aligned table of the records at `shown`: index, state, address, name,
// comment.
void print_table(const std::vector<record> &records, const std::vector<int> &shown);

// The same as lines of tab-separated fields, without the header.
void print_plain(const std::vector<record> &records, const std::vector<int> &shown);

// The library's JSON text of record `index` with "index" as its first key.
std::string indexed_json(int index, const char *library_text);

// One line per finding of `qhosts check`; as JSON, one object per line.
void print_problems(const std::vector<record> &records, const std::vector<problem> &problems,
                    const std::vector<broken_line> &broken, bool json);

// "IP NAME" or "IP NAME # COMMENT", as a change report shows a record.
std::string record_summary(const record &rec);

#endif
