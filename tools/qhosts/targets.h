// The ways a command picks records: TARGET words and the entries of a file
// given with --from.
#ifndef QHOSTS_TARGETS_H
#define QHOSTS_TARGETS_H

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "lines.h"
#include "records.h"

struct target {
    enum kind {
        index,         // a position in the table
        name,          // a host name, ignoring case
        name_glob,     // a glob on names
        address,       // an address, by value
        network,       // an address range, ADDRESS/BITS
        comment_text,  // text the comment holds, ignoring case
        comment_glob,  // a glob on the whole comment
        entries,       // the entries of a file: name and address
    } what;
    std::string word;  // as given, for messages
    std::string key;   // what is compared: see parse_targets
    int prefix_bits = 0;
    std::shared_ptr<const std::unordered_set<std::string>> entry_keys;
};

// Reads TARGET words: an index; name=NAME; ip=ADDRESS or ip=ADDRESS/BITS;
// comment=TEXT; comment~GLOB; or a bare word, which is taken as an address
// (or range) when it reads as one, a glob when it holds '*', '?' or '[',
// and a host name otherwise. A word that names nothing (an empty name=,
// a range that is not one) is a usage mistake, reported in `error`.
bool parse_targets(const std::vector<std::string> &words, std::vector<target> &out,
                   std::string &error);

// A target for every record whose name and address are those of an entry
// of `file`.
target entries_target(const std::string &file, const std::vector<entry_line> &entries);

// The indexes of the records that the targets choose, sorted, each once.
// A target that chooses nothing is reported, and the result is
// k_exit_no_match, unless `ignore_missing`; an index out of range fails.
int choose_records(const std::vector<target> &targets, const std::vector<record> &records,
                   bool ignore_missing, std::vector<int> &indexes);

#endif
