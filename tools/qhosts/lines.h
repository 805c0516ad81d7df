// The lines of a hosts-format file, numbered: which ones look like entries
// but the library keeps as plain text, and the entries of a file that a
// command takes as its input.
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

// An active line of a hosts-format file with the shape of an entry: an
// address, names and an optional comment, as the library's loader splits
// it. Whether the library takes its address and names is not checked here.
struct entry_line {
    int number;
    std::string ip;
    std::vector<std::string> names;
    std::string comment;
};

// Reads the active lines of the file at `path` that have an entry's shape;
// its commented lines are comments there. False with `error` when the file
// cannot be read, is absent, or holds NUL bytes (which the library refuses
// to read).
bool read_entry_lines(const std::string &path, std::vector<entry_line> &out, std::string &error);

#endif
