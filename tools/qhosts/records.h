// The records of the loaded hosts file as qhosts sees them. A record's index
// is its place in the vector that fetch_all_records fills.
#ifndef QHOSTS_RECORDS_H
#define QHOSTS_RECORDS_H

#include <string>
#include <vector>

// One record as hosts_get describes it. Its index is not kept in it: that is
// its place in the file, which changes as earlier records are removed.
struct record {
    std::string ip;
    std::string name;
    bool enabled = false;
    std::string comment;
};

// Reads record `index` through hosts_get. Returns the library's text of it,
// valid until the next hosts_get, or null after reporting the failure.
const char *fetch_record(int index, record &out);

// Reads every loaded record in order.
bool fetch_all_records(std::vector<record> &out);

// Host names are case-insensitive, so names compare that way.
bool same_name(const std::string &a, const std::string &b);

// The address as its bytes after a family letter ('4' or '6'), so that two
// spellings of one address (10.0.0.01, 0:0::1) compare equal; for a text that
// is neither form, the text itself after '?'.
std::string address_key(const std::string &ip);

// What makes two records the same entry: the name, ignoring case, and the
// address by value.
std::string entry_key(const std::string &ip, const std::string &name);

// What `qhosts check` finds among the records: records that say the same
// thing twice, and names that resolve to several addresses of one family.
struct problem {
    enum kind { duplicate, conflict } what;
    std::vector<int> indexes;  // the records involved, in order
};

std::vector<problem> find_problems(const std::vector<record> &records);

#endif
