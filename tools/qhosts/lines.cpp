#include "lines.h"

#include <string_view>

#include "files.h"
#include "quendral-hosts.h"
#include "records.h"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_blank(text[at]))
        ++at;
    return text.substr(at);
}

// Splits the token at the start of `text` off it.
std::string_view take_token(std::string_view &text) {
    text = skip_blanks(text);
    std::size_t end = 0;
    while (end < text.size() && !is_blank(text[end]))
        ++end;
    const std::string_view token = text.substr(0, end);
    text = text.substr(end);
    return token;
}

// One trimmed line read the way the library's loader reads it: an address,
// names and a comment, and whether it has the shape of an entry at all.
struct line_fields {
    bool commented;
    std::string_view ip;
    std::vector<std::string_view> names;
    std::string_view comment;
    bool shaped;
};

line_fields read_fields(std::string_view line) {
    line_fields f{};
    f.commented = line.front() == '#';
    if (f.commented) {
        std::string_view rest = line.substr(1);
        f.ip = take_token(rest);
        const std::string_view name = take_token(rest);
        if (!name.empty())
            f.names.push_back(name);
        // Only a '#' comment may follow the one name of a disabled entry.
        rest = skip_blanks(rest);
        const bool text_after_name = !rest.empty() && rest.front() != '#';
        if (!rest.empty() && rest.front() == '#')
            f.comment = skip_blanks(rest.substr(1));
        f.shaped = !f.ip.empty() && !name.empty() && !text_after_name;
        return f;
    }
    const std::size_t hash = line.find('#');
    std::string_view body = line.substr(0, hash);
    if (hash != std::string_view::npos)
        f.comment = skip_blanks(line.substr(hash + 1));
    f.ip = take_token(body);
    for (std::string_view name = take_token(body); !name.empty(); name = take_token(body))
        f.names.push_back(name);
    f.shaped = !f.names.empty();
    return f;
}

// Whether the records from `at` on are exactly the ones the line gives.
bool line_made(const line_fields &f, const std::vector<record> &records, std::size_t at) {
    if (!f.shaped || at + f.names.size() > records.size())
        return false;
    for (std::size_t i = 0; i < f.names.size(); ++i) {
        const record &rec = records[at + i];
        if (rec.enabled == f.commented || rec.ip != f.ip || rec.name != f.names[i] ||
            rec.comment != f.comment)
            return false;
    }
    return true;
}

// Why the library keeps the line as text: the shape, or else what hosts_add
// says of its fields.
std::string refusal_reason(const line_fields &f) {
    if (f.names.empty())
        return "no host name after the address";
    const std::string ip(f.ip);
    const std::string comment(f.comment);
    for (std::string_view name : f.names) {
        const int index = hosts_add(ip.c_str(), std::string(name).c_str(),
                                    comment.empty() ? nullptr : comment.c_str());
        if (index < 0)
            return hosts_last_error();
        hosts_remove(index);
    }
    return "not read as an entry";
}

// Every active line is meant as an entry. A commented line is prose unless
// it has a disabled entry's shape, an address and one name.
bool looks_like_entry(const line_fields &f) {
    return !f.commented || (f.shaped && address_key(std::string(f.ip))[0] != '?');
}

// Calls `visit` with each line's number and its text, trimmed as the loader
// trims it; blank lines are skipped.
template <typename Visit>
void for_each_line(const std::string &bytes, Visit visit) {
    int number = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string_view line = skip_blanks(std::string_view(bytes).substr(start, end - start));
        start = end + 1;
        ++number;
        while (!line.empty() && (is_blank(line.back()) || line.back() == '\r'))
            line.remove_suffix(1);
        if (!line.empty())
            visit(number, line);
    }
}

}  // namespace

bool find_broken_lines(const std::string &bytes, const std::vector<record> &records,
                       std::vector<broken_line> &out) {
    std::size_t used = 0;  // records matched to lines so far
    for_each_line(bytes, [&](int number, std::string_view line) {
        const line_fields f = read_fields(line);
        if (line_made(f, records, used)) {
            used += f.names.size();
        } else if (looks_like_entry(f)) {
            out.push_back({number, std::string(line), refusal_reason(f)});
        }
    });
    return used == records.size();
}

bool read_entry_lines(const std::string &path, std::vector<entry_line> &out, std::string &error) {
    std::string bytes;
    const read_result state = read_file(path, bytes, error);
    if (state == read_result::absent)
        error = "cannot read " + path + ": it does not exist";
    if (state != read_result::ok)
        return false;
    if (bytes.find('\0') != std::string::npos) {
        error = "cannot read " + path + ": it holds NUL bytes (UTF-16 or not a text file)";
        return false;
    }
    for_each_line(bytes, [&out](int number, std::string_view line) {
        const line_fields f = read_fields(line);
        if (f.commented || !f.shaped)
            return;
        entry_line entry{number, std::string(f.ip), {}, std::string(f.comment)};
        for (std::string_view name : f.names)
            entry.names.emplace_back(name);
        out.push_back(std::move(entry));
    });
    return true;
}
