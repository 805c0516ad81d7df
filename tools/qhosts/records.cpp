#include "records.h"

#include <algorithm>
#include <map>

#include "quendral-hosts-record.h"
#include "quendral-hosts.h"
#include "report.h"
#include "text.h"

const char *fetch_record(int index, record &out) {
    const char *text = hosts_get(index);
    if (*text == '\0') {
        report(hosts_last_error());
        return nullptr;
    }
    qh_record rec;
    if (qh_record_parse(text, &rec) != 1) {
        report(std::string("unexpected record text from the library (") + rec.error + "): " + text);
        return nullptr;
    }
    out.ip = rec.ip;
    out.name = rec.name;
    out.enabled = rec.enabled == 1;
    out.comment = rec.comment;
    qh_record_free(&rec);
    return text;
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

bool same_name(const std::string &a, const std::string &b) {
    return ascii_lower(a) == ascii_lower(b);
}

namespace {

bool ipv4_bytes(const std::string &ip, std::string &bytes) {
    bytes.clear();
    std::size_t start = 0;
    for (int group = 0; group < 4; ++group) {
        const std::size_t end = group < 3 ? ip.find('.', start) : ip.size();
        if (end == std::string::npos || end == start || end - start > 3)
            return false;
        int value = 0;
        for (std::size_t i = start; i < end; ++i) {
            if (!is_digit(ip[i]))
                return false;
            value = value * 10 + (ip[i] - '0');
        }
        if (value > 255)
            return false;
        bytes.push_back(static_cast<char>(value));
        start = end + 1;
    }
    return true;
}

// Hex groups split at ':' into `groups`; false on a malformed group.
bool ipv6_groups(const std::string &text, std::vector<int> &groups) {
    if (text.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        if (end == start || end - start > 4)
            return false;
        int value = 0;
        for (std::size_t i = start; i < end; ++i) {
            const int digit = hex_value(text[i]);
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        groups.push_back(value);
        if (end == text.size())
            return true;
        start = end + 1;
    }
}

bool ipv6_bytes(const std::string &ip, std::string &bytes) {
    const std::size_t gap = ip.find("::");
    std::vector<int> head;
    std::vector<int> tail;
    if (gap == std::string::npos) {
        if (!ipv6_groups(ip, head) || head.size() != 8)
            return false;
    } else if (!ipv6_groups(ip.substr(0, gap), head) || !ipv6_groups(ip.substr(gap + 2), tail) ||
               head.size() + tail.size() > 8) {
        return false;
    }
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
    bytes.clear();
    for (int group : head) {
        bytes.push_back(static_cast<char>(group >> 8));
        bytes.push_back(static_cast<char>(group & 0xFF));
    }
    return true;
}

}  // namespace

std::string address_key(const std::string &ip) {
    std::string bytes;
    if (ipv4_bytes(ip, bytes))
        return "4" + bytes;
    if (ipv6_bytes(ip, bytes))
        return "6" + bytes;
    return "?" + ascii_lower(ip);
}

std::string entry_key(const std::string &ip, const std::string &name) {
    return ascii_lower(name) + '\n' + address_key(ip);
}

std::vector<problem> find_problems(const std::vector<record> &records) {
    // Keyed by what makes records the same, holding indexes in file order;
    // the problems come out ordered by the first record involved.
    std::map<std::string, std::vector<int>> same_record;
    std::map<std::string, std::vector<int>> same_name_and_family;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const record &rec = records[i];
        const int index = static_cast<int>(i);
        const std::string address = address_key(rec.ip);
        const std::string name = ascii_lower(rec.name);
        same_record[address + '\n' + name + '\n' + (rec.enabled ? '1' : '0')].push_back(index);
        if (rec.enabled)
            same_name_and_family[name + '\n' + address[0]].push_back(index);
    }
    std::vector<problem> found;
    for (const auto &group : same_record) {
        if (group.second.size() > 1)
            found.push_back({problem::duplicate, group.second});
    }
    for (const auto &group : same_name_and_family) {
        std::vector<std::string> addresses;
        for (int index : group.second)
            addresses.push_back(address_key(records[static_cast<std::size_t>(index)].ip));
        std::sort(addresses.begin(), addresses.end());
        if (std::unique(addresses.begin(), addresses.end()) - addresses.begin() > 1)
            found.push_back({problem::conflict, group.second});
    }
    std::stable_sort(found.begin(), found.end(), [](const problem &a, const problem &b) {
        return a.indexes.front() < b.indexes.front();
    });
    return found;
}
