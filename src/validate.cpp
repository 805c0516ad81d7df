// Character-level checks that decide which lines are entries. They are
// deliberately lenient about structure (no group counts for IPv6, no label
// rules for names) and strict about the characters admitted.
#include <cstring>

#include "hosts_internal.h"

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_hex(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Four dot-separated groups of 1 to 3 digits, each at most 255.
bool valid_ipv4(text_span ip) {
    int value = 0;
    int digits = 0;
    int dots = 0;
    for (const char *s = ip.at; s != ip.at + ip.len; ++s) {
        if (is_digit(*s)) {
            value = value * 10 + (*s - '0');
            if (value > 999)
                return false;
            ++digits;
        } else if (*s == '.') {
            if (digits == 0 || digits > 3 || value > 255)
                return false;
            if (++dots > 3)
                return false;
            value = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    return dots == 3 && digits >= 1 && digits <= 3 && value <= 255;
}

// Hex digits and colons, at least two colons, at most one "::" and no run
// of three colons, no lone colon at either end.
bool valid_ipv6(text_span ip) {
    const char *s = ip.at;
    const std::size_t n = ip.len;
    if (n < 2 || n > 45)
        return false;
    int colons = 0;
    bool prev_colon = false;
    bool double_colon = false;
    for (const char *p = s; p != s + n; ++p) {
        if (is_hex(*p)) {
            prev_colon = false;
        } else if (*p == ':') {
            ++colons;
            if (prev_colon) {
                if (double_colon)
                    return false;
                double_colon = true;
            } else {
                prev_colon = true;
            }
        } else {
            return false;
        }
    }
    if (colons < 2)
        return false;
    if (s[0] == ':' && s[1] != ':')
        return false;
    if (s[n - 1] == ':')
        return s[n - 2] == ':';
    return true;
}

// The bytes a host name may hold: A-Z a-z 0-9 - . _
struct name_chars {
    bool allowed[256] = {};
    constexpr name_chars() {
        for (int c = 0; c < 256; ++c)
            allowed[c] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                         (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_';
    }
};
constexpr name_chars k_name_chars;

}  // namespace

const char *name_bytes_end(const char *s, const char *end) noexcept {
    while (s != end && k_name_chars.allowed[static_cast<unsigned char>(*s)])
        ++s;
    return s;
}

bool valid_ip_span(text_span s) noexcept {
    return s.len > 0 && (valid_ipv4(s) || valid_ipv6(s));
}

bool valid_name_span(text_span s) noexcept {
    return s.len > 0 && s.len <= k_longest_name &&
           name_bytes_end(s.at, s.at + s.len) == s.at + s.len;
}

int valid_ip(const char *s) noexcept {
    return s != nullptr && valid_ip_span({s, std::strlen(s)}) ? 1 : 0;
}

int valid_name(const char *s) noexcept {
    return s != nullptr && valid_name_span({s, strnlen(s, k_longest_name + 1)}) ? 1 : 0;
}
