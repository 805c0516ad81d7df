// Hands out one record as a one-line JSON object.
#include <cstdint>
#include <cstring>

#include "hosts_internal.h"

namespace {

// json_escape stops once no more than this is left of its room: enough for
// the longest escape (six bytes) and the terminating NUL.
constexpr std::size_t k_escape_slack = 8;

// Worst case: every byte of a full field becomes a six-byte \u escape, plus
// the slack, so no stored text is cut.
constexpr std::size_t escaped_size(std::size_t field) {
    return 6 * (field - 1) + k_escape_slack;
}

// Everything of a JSON text but the three texts and the enabled digit.
constexpr char k_json_frame[] = "{\"ip\":\"\",\"name\":\"\",\"enabled\":,\"comment\":\"\"}";

static_assert(escaped_size(k_ip_size) + escaped_size(k_name_size) + escaped_size(k_comment_size) +
                      sizeof k_json_frame + 1 <=
                  k_json_size,
              "a fully escaped record must fit the JSON buffer");

const char k_empty[] = "";

// Writes the JSON form of one byte of text and returns its length.
std::size_t escape_byte(unsigned char c, char *dst) {
    static const char hex[] = "0123456789abcdef";
    if (c >= 0x20 && c != '"' && c != '\\') {
        *dst = static_cast<char>(c);
        return 1;
    }
    dst[0] = '\\';
    switch (c) {
        case '"':
            dst[1] = '"';
            return 2;
        case '\\':
            dst[1] = '\\';
            return 2;
        case '\n':
            dst[1] = 'n';
            return 2;
        case '\r':
            dst[1] = 'r';
            return 2;
        case '\t':
            dst[1] = 't';
            return 2;
        default:
            std::memcpy(dst + 1, "u00", 3);
            dst[4] = hex[c >> 4];
            dst[5] = hex[c & 0xf];
            return 6;
    }
}

// Flags, in the high bit of each byte, the bytes of a word that need
// escaping or end the text: below 0x20 (NUL included), quote, backslash.
// These are the usual word-at-a-time tests: the lowest flag is exact, the
// ones above it may be false alarms.
std::uint64_t special_bytes(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    const std::uint64_t quotes = word ^ (ones * '"');
    const std::uint64_t backslashes = word ^ (ones * '\\');
    const std::uint64_t below_space = (word - ones * 0x20) & ~word;
    const std::uint64_t quote = (quotes - ones) & ~quotes;
    const std::uint64_t backslash = (backslashes - ones) & ~backslashes;
    return (below_space | quote | backslash) & highs;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte is the lowest");

// Escapes the text in a fixed-width field (NUL-terminated within it) into
// `dst` and returns the length written. Plain bytes, nearly all of a hosts
// file, are copied a word at a time up to the first byte that is not; a word
// is stored whole even when only its start is kept, which the slack of the
// field's escaped size leaves room for.
std::size_t escape_field(const char *field, std::size_t width, char *dst) {
    std::size_t out = 0;
    std::size_t at = 0;
    while (at + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, field + at, 8);
        std::memcpy(dst + out, &word, 8);
        const std::uint64_t special = special_bytes(word);
        if (special == 0) {
            at += 8;
            out += 8;
            continue;
        }
        const std::size_t plain = static_cast<std::size_t>(__builtin_ctzll(special)) / 8;
        at += plain;
        out += plain;
        const unsigned char c = static_cast<unsigned char>(field[at]);
        if (c == '\0')
            return out;
        out += escape_byte(c, dst + out);
        ++at;
    }
    for (; at < width && field[at] != '\0'; ++at)
        out += escape_byte(static_cast<unsigned char>(field[at]), dst + out);
    return out;
}

template <std::size_t N>
char *put(char *dst, const char (&text)[N]) {
    std::memcpy(dst, text, N - 1);
    return dst + N - 1;
}

}  // namespace

void json_escape(const char *src, char *dst, std::size_t size) noexcept {
    std::size_t out = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(src); *p; ++p) {
        out += escape_byte(*p, dst + out);
        if (out + k_escape_slack >= size)
            break;
    }
    dst[out] = '\0';
}

QH_EXPORT const char *QH_CALL hosts_get(int index) noexcept {
    clear_err();
    if (!check_index(index))
        return k_empty;
    const host_record &rec = s_recs[index];
    // Callers walk the table in order.
    prefetch_later_record(index);
    // A stored text is at most its field's width, so each fits its escaped
    // size, and the static_assert above makes all of them fit s_json.
    char *out = put(s_json, "{\"ip\":\"");
    out += escape_field(rec.ip, sizeof rec.ip, out);
    out = put(out, "\",\"name\":\"");
    out += escape_field(rec.name, sizeof rec.name, out);
    out = rec.enabled ? put(out, "\",\"enabled\":1,\"comment\":\"")  // stored as 0 or 1 only
                      : put(out, "\",\"enabled\":0,\"comment\":\"");
    if (rec.has_comment)
        out += escape_field(rec.comment, sizeof rec.comment, out);
    out = put(out, "\"}");
    *out = '\0';
    return s_json;
}
