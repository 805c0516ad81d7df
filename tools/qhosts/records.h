// The records of the loaded hosts file as qhosts sees them, and the ways a
// command picks some of them.
#ifndef QHOSTS_RECORDS_H
#define QHOSTS_RECORDS_H

#include <string>
#include <vector>

struct record {
    int index = 0;
    std::string ip;
    std::string name;
    std::string comment;
    bool enabled = false;
    std::string json;  // the library's text, unchanged
};

// Reads record `index` through hosts_get; reports and returns false on failure.
bool fetch_record(int index, record &out);

// Reads every loaded record in order.
bool fetch_all_records(std::vector<record> &out);

std::string ascii_lower(std::string text);

// Host names are case-insensitive, so names compare that way.
bool same_name(const std::string &a, const std::string &b);

// Turns TARGET words into record indices, sorted, each at most once, checking
// them all before anything changes. Reports and returns false when one
// selects nothing.
bool resolve_targets(const std::vector<std::string> &targets, std::vector<int> &indices);

#endif
