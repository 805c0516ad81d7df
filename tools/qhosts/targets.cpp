#include "targets.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "report.h"
#include "text.h"

namespace {

const char k_name_prefix[] = "name=";
const char k_ip_prefix[] = "ip=";
const char k_comment_prefix[] = "comment=";
const char k_comment_glob_prefix[] = "comment~";

std::string after(const std::string &word, const char *prefix) {
    return word.substr(std::char_traits<char>::length(prefix));
}

// The word without `prefix`, when it starts with it.
std::string without(const std::string &word, const char *prefix) {
    return word.starts_with(prefix) ? after(word, prefix) : word;
}

// "ADDRESS/BITS" with a prefix no longer than the family's addresses.
bool parse_network(const std::string &text, target &out) {
    const std::size_t slash = text.find('/');
    const std::string bits = text.substr(slash + 1);
    const std::string key = address_key(text.substr(0, slash));
    if (key[0] == '?' || !is_digits(bits) || bits.size() > 3)
        return false;
    const int prefix = std::atoi(bits.c_str());
    if (prefix > static_cast<int>(key.size() - 1) * 8)
        return false;
    out.what = target::network;
    out.key = key;
    out.prefix_bits = prefix;
    return true;
}

bool parse_target(const std::string &word, target &out, std::string &error) {
    out.word = word;
    std::string value = word;
    const bool range = word.find('/') != std::string::npos;
    if (word.starts_with(k_ip_prefix)) {
        value = after(word, k_ip_prefix);
        if (range && !parse_network(value, out)) {
            error = "TARGET " + word + " is not an address range (ADDRESS/BITS)";
            return false;
        }
        // An address the library would not take still compares as text,
        // and so matches nothing.
        if (!range) {
            out.what = target::address;
            out.key = address_key(value);
        }
    } else if (word.starts_with(k_comment_prefix)) {
        value = after(word, k_comment_prefix);
        out.what = target::comment_text;
        out.key = ascii_lower(value);
    } else if (word.starts_with(k_comment_glob_prefix)) {
        value = after(word, k_comment_glob_prefix);
        out.what = target::comment_glob;
        out.key = value;
    } else if (word.starts_with(k_name_prefix)) {
        value = after(word, k_name_prefix);
        out.what = has_glob(value) ? target::name_glob : target::name;
        out.key = ascii_lower(value);
    } else if (is_digits(word)) {
        out.what = target::index;
    } else if (range ? !parse_network(word, out) : address_key(word)[0] == '?') {
        out.what = has_glob(word) ? target::name_glob : target::name;
        out.key = ascii_lower(word);
    } else if (!range) {
        out.what = target::address;
        out.key = address_key(word);
    }
    if (value.empty()) {
        error = "TARGET " + word + " names nothing";
        return false;
    }
    return true;
}

bool in_network(const std::string &key, const target &net) {
    if (key[0] != net.key[0])
        return false;
    for (int bit = 0; bit < net.prefix_bits; ++bit) {
        const std::size_t byte = 1 + static_cast<std::size_t>(bit / 8);
        const int mask = 0x80 >> (bit % 8);
        if ((key[byte] & mask) != (net.key[byte] & mask))
            return false;
    }
    return true;
}

bool chooses(const target &t, const record &rec) {
    switch (t.what) {
        case target::name:
            return ascii_lower(rec.name) == t.key;
        case target::name_glob:
            return glob_match(t.key, rec.name);
        case target::address:
            return address_key(rec.ip) == t.key;
        case target::network:
            return in_network(address_key(rec.ip), t);
        case target::comment_text:
            return ascii_lower(rec.comment).find(t.key) != std::string::npos;
        case target::comment_glob:
            return glob_match(t.key, rec.comment);
        case target::entries:
            return t.entry_keys->count(entry_key(rec.ip, rec.name)) != 0;
        case target::index:
            break;
    }
    return false;
}

std::string no_match_text(const target &t) {
    switch (t.what) {
        case target::name:
            return "no record named '" + without(t.word, k_name_prefix) + "'";
        case target::name_glob:
            return "no record has a name like '" + t.word + "'";
        case target::address:
            return "no record with the address '" + without(t.word, k_ip_prefix) + "'";
        case target::network:
            return "no record with an address in '" + t.word + "'";
        case target::comment_text:
        case target::comment_glob:
            return "no record with a comment like '" + t.word + "'";
        case target::entries:
            return "no record is an entry of " + t.word;
        case target::index:
            break;
    }
    return "no record for '" + t.word + "'";
}

}  // namespace

bool parse_targets(const std::vector<std::string> &words, std::vector<target> &out,
                   std::string &error) {
    for (const std::string &word : words) {
        target t{};
        if (!parse_target(word, t, error))
            return false;
        out.push_back(t);
    }
    return true;
}

target entries_target(const std::string &file, const std::vector<entry_line> &entries) {
    auto keys = std::make_shared<std::unordered_set<std::string>>();
    keys->reserve(entries.size());
    for (const entry_line &entry : entries) {
        for (const std::string &name : entry.names)
            keys->insert(entry_key(entry.ip, name));
    }
    target t{};
    t.what = target::entries;
    t.word = file;
    t.entry_keys = keys;
    return t;
}

int choose_records(const std::vector<target> &targets, const std::vector<record> &records,
                   bool ignore_missing, std::vector<int> &indexes) {
    const std::size_t count = records.size();
    bool missing = false;
    for (const target &t : targets) {
        if (t.what == target::index) {
            const unsigned long long value = std::strtoull(t.word.c_str(), nullptr, 10);
            if (value >= count || value >= static_cast<unsigned long long>(INT_MAX)) {
                report("index " + t.word + " out of range (count " + std::to_string(count) + ")");
                return k_exit_failed;
            }
            indexes.push_back(static_cast<int>(value));
            continue;
        }
        const std::size_t before = indexes.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (chooses(t, records[i]))
                indexes.push_back(static_cast<int>(i));
        }
        if (indexes.size() == before && !ignore_missing) {
            report(no_match_text(t));
            missing = true;
        }
    }
    if (missing)
        return k_exit_no_match;
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    return k_exit_ok;
}
