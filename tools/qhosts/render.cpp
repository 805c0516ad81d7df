#include "render.h"

#include <algorithm>
#include <cstdio>

namespace {

// Width on a terminal: UTF-8 continuation bytes take no column of their own.
std::size_t display_width(const std::string &text) {
    std::size_t width = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++width;
    }
    return width;
}

// Control bytes would break a line apart or move the cursor, so text output
// shows them as '?'; JSON keeps them, escaped.
std::string printable(const std::string &text) {
    std::string out = text;
    for (char &c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return out;
}

std::string json_string(const std::string &text) {
    static const char k_hex_digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += k_hex_digits[c >> 4];
            out += k_hex_digits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char *family_name(const std::string &ip) {
    return ip.find(':') == ip.npos ? "IPv4" : "IPv6";
}

}  // namespace

void print_table(const std::vector<record> &records, const std::vector<int> &shown) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"INDEX", "STATE", "ADDRESS", "NAME", "COMMENT"});
    for (int index : shown) {
        const record &rec = records[static_cast<std::size_t>(index)];
        rows.push_back({std::to_string(index), rec.enabled ? "on" : "off", printable(rec.ip),
                        printable(rec.name), printable(rec.comment)});
    }
    const std::size_t columns = rows.front().size();
    std::vector<std::size_t> widths(columns, 0);
    for (const auto &row : rows) {
        for (std::size_t c = 0; c < columns; ++c)
            widths[c] = std::max(widths[c], display_width(row[c]));
    }
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t c = 0; c < columns; ++c) {
            line += row[c];
            if (c + 1 < columns)
                line.append(widths[c] - display_width(row[c]) + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        std::printf("%s\n", line.c_str());
    }
}

void print_plain(const std::vector<record> &records, const std::vector<int> &shown) {
    for (int index : shown) {
        const record &rec = records[static_cast<std::size_t>(index)];
        std::printf("%d\t%s\t%s\t%s\t%s\n", index, rec.enabled ? "on" : "off",
                    printable(rec.ip).c_str(), printable(rec.name).c_str(),
                    printable(rec.comment).c_str());
    }
}

std::string indexed_json(int index, const char *library_text) {
    return "{\"index\":" + std::to_string(index) + "," + (library_text + 1);
}

void print_problems(const std::vector<record> &records, const std::vector<problem> &problems,
                    const std::vector<broken_line> &broken, bool json) {
    for (const problem &found : problems) {
        const record &first = records[static_cast<std::size_t>(found.indexes.front())];
        const bool duplicate = found.what == problem::duplicate;
        std::string line;
        if (json) {
            line = std::string("{\"problem\":") + (duplicate ? "\"duplicate\"" : "\"conflict\"") +
                   ",\"name\":" + json_string(first.name);
            if (duplicate) {
                line += ",\"ip\":" + json_string(first.ip) +
                        ",\"enabled\":" + (first.enabled ? "1" : "0");
            } else {
                line += std::string(",\"family\":\"") + family_name(first.ip) + "\"";
            }
            line += ",\"indexes\":[";
            for (std::size_t i = 0; i < found.indexes.size(); ++i)
                line += (i ? "," : "") + std::to_string(found.indexes[i]);
            line += "]}";
        } else if (duplicate) {
            line = "duplicate: " + printable(first.ip) + " " + printable(first.name) +
                   (first.enabled ? "" : " (disabled)") + " at";
            for (int index : found.indexes)
                line += " " + std::to_string(index);
        } else {
            line = "conflict: " + printable(first.name) + " has several enabled " +
                   family_name(first.ip) + " addresses:";
            for (int index : found.indexes) {
                line += " " + std::to_string(index) + " (" +
                        printable(records[static_cast<std::size_t>(index)].ip) + ")";
            }
        }
        std::printf("%s\n", line.c_str());
    }
    for (const broken_line &found : broken) {
        if (json) {
            std::printf("{\"problem\":\"broken\",\"line\":%d,\"text\":%s,\"reason\":%s}\n",
                        found.number, json_string(found.text).c_str(),
                        json_string(found.reason).c_str());
        } else {
            std::printf("broken: line %d: %s (%s)\n", found.number, printable(found.text).c_str(),
                        printable(found.reason).c_str());
        }
    }
}

std::string record_summary(const record &rec) {
    std::string line = printable(rec.ip) + " " + printable(rec.name);
    if (!rec.comment.empty())
        line += " # " + printable(rec.comment);
    return line;
}
