#include "records.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "quendral-hosts.h"
#include "record_json.h"
#include "report.h"

bool fetch_record(int index, record &out) {
    const char *text = hosts_get(index);
    if (*text == '\0') {
        report(hosts_last_error());
        return false;
    }
    json_record decoded;
    std::string why;
    if (!decode_record_json(text, json_bytes::any, decoded, why)) {
        report("unexpected record text from the library (" + why + "): " + text);
        return false;
    }
    out.index = index;
    out.ip = decoded.ip;
    out.name = decoded.name;
    out.comment = decoded.comment;
    out.enabled = decoded.enabled == 1;
    out.json = text;
    return true;
}

bool fetch_all_records(std::vector<record> &out) {
    out.clear();
    const int count = hosts_count();
    out.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!fetch_record(i, out[static_cast<std::size_t>(i)]))
            return false;
    }
    return true;
}

std::string ascii_lower(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool same_name(const std::string &a, const std::string &b) {
    return ascii_lower(a) == ascii_lower(b);
}

namespace {

bool is_index(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool resolve_targets(const std::vector<std::string> &targets, std::vector<int> &indices) {
    const int count = hosts_count();
    std::vector<record> records;
    bool records_read = false;
    for (const std::string &target : targets) {
        if (is_index(target)) {
            const unsigned long long value = std::strtoull(target.c_str(), nullptr, 10);
            if (value >= static_cast<unsigned long long>(INT_MAX)) {
                report("index " + target + " out of range (count " + std::to_string(count) + ")");
                return false;
            }
            const int index = static_cast<int>(value);
            // hosts_get checks the range and words the error like every other call.
            if (*hosts_get(index) == '\0') {
                report(hosts_last_error());
                return false;
            }
            indices.push_back(index);
            continue;
        }
        if (!records_read) {
            if (!fetch_all_records(records))
                return false;
            records_read = true;
        }
        bool found = false;
        for (const record &rec : records) {
            if (same_name(rec.name, target)) {
                indices.push_back(rec.index);
                found = true;
            }
        }
        if (!found) {
            report("no record named '" + target + "'");
            return false;
        }
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return true;
}
