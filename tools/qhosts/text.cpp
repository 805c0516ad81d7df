#include "text.h"

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Matches `c` against the set that starts just after a '[' at `p`. Returns
// the position after the closing ']', or npos when the set is not closed.
std::size_t match_set(const std::string &pattern, std::size_t p, char c, bool &matched) {
    const bool negated = p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^');
    if (negated)
        ++p;
    bool in_set = false;
    // A ']' first in the set is a member, as in the shell.
    for (bool first = true; p < pattern.size() && (first || pattern[p] != ']'); first = false) {
        const char low = lower(pattern[p]);
        if (p + 2 < pattern.size() && pattern[p + 1] == '-' && pattern[p + 2] != ']') {
            in_set = in_set || (low <= c && c <= lower(pattern[p + 2]));
            p += 3;
        } else {
            in_set = in_set || low == c;
            ++p;
        }
    }
    if (p >= pattern.size())
        return std::string::npos;
    matched = in_set != negated;
    return p + 1;
}

}  // namespace

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_digits(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int hex_value(char c) {
    if (is_digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ascii_lower(std::string text) {
    for (char &c : text)
        c = lower(c);
    return text;
}

std::string trimmed(const std::string &text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool has_glob(const std::string &text) {
    return text.find_first_of("*?[") != std::string::npos;
}

bool glob_match(const std::string &pattern, const std::string &text) {
    // Iterative matching with one remembered star: linear in practice, and
    // never exponential, whatever the pattern.
    std::size_t p = 0, t = 0;
    std::size_t star = std::string::npos, star_text = 0;
    while (t < text.size()) {
        const char c = lower(text[t]);
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            star_text = t;
            continue;
        }
        if (p < pattern.size()) {
            bool matched = false;
            std::size_t next = p + 1;
            if (pattern[p] == '?') {
                matched = true;
            } else if (pattern[p] == '[') {
                next = match_set(pattern, p + 1, c, matched);
                if (next == std::string::npos) {
                    matched = c == '[';
                    next = p + 1;
                }
            } else {
                matched = lower(pattern[p]) == c;
            }
            if (matched) {
                p = next;
                ++t;
                continue;
            }
        }
        if (star == std::string::npos)
            return false;
        p = star;
        t = ++star_text;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
