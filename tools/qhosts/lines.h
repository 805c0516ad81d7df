// The lines of a hosts-format file, numbered, beside what the library made
// of them: which lines look like entries but were kept as plain text, and
// the entries of a file that a command takes as its input.
#ifndef QHOSTS_LINES_H
#define QHOSTS_LINES_H

#include <string>
#include <vector>

#include "records.h"

struct broken_line {
    int number;          // from 1
    std::string text;    // the line, trimmed
    std::string reason;  // why the library keeps it as plain text
};

// Lines of `bytes` that look like entries but that the library keeps as
// plain text: every active line that is not read as records, and commented
// lines that start with an address and a name, as a disabled entry does.
// `records` are what the library read from the same bytes, in order; each
// line is matched against them. False when they cannot come from these
// bytes: the file changed between the two reads.
//
// The reasons are the library's own: a refused line's fields are given to
// hosts_add, on the tables loaded now, and whatever it adds is removed
// again. The caller must not save those tables for another file.
bool find_broken_lines(const std::string &bytes, const std::vector<record> &records,
                       std::vector<broken_line> &out);

// Reads the file at `path` through the library and gives its enabled
// records in file order; the lines it refused are in `refused`. The library
// is pointed at `path` afterwards. False with `error` when the file cannot
// be read (an absent file among them).
bool read_entries(const std::string &path, std::vector<record> &entries,
                  std::vector<broken_line> &refused, std::string &error);

#endif
