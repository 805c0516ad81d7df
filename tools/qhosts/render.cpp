#include "render.h"

#include <algorithm>
#include <cstdio>
#include <string>

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

// Control bytes would break a table row apart or move the cursor, so the
// table shows them as '?'; --json keeps them, escaped.
std::string printable(const std::string &text) {
    std::string out = text;
    for (char &c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return out;
}

}  // namespace

void print_table(const std::vector<record> &records) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"INDEX", "STATE", "ADDRESS", "NAME", "COMMENT"});
    for (const record &rec : records) {
        rows.push_back({std::to_string(rec.index), rec.enabled ? "on" : "off", printable(rec.ip),
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
