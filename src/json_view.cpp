// Hands out one record as a one-line JSON object.
#include <cstring>

#include "hosts_internal.h"

namespace {

// Worst case: every byte of a full field becomes a six-byte \u escape, plus
// the slack that json_escape's bound keeps free, so no stored text is cut.
constexpr std::size_t escaped_size(std::size_t field) { return 6 * (field - 1) + 8; }

// Everything of a JSON text but the three texts and the enabled digit.
constexpr char k_json_frame[] = "{\"ip\":\"\",\"name\":\"\",\"enabled\":,\"comment\":\"\"}";

static_assert(escaped_size(IP_SIZE) + escaped_size(NAME_SIZE) + escaped_size(COMMENT_SIZE) +
                      sizeof k_json_frame + 1 <= JSON_SIZE,
              "a fully escaped record must fit the JSON buffer");

char s_json[JSON_SIZE];
const char k_empty[] = "";

}  // namespace

namespace {

// Escapes `src` into `dst` as json_escape does and returns the length
// written, so that hosts_get can place each field straight into s_json.
std::size_t escape_into(const char *src, char *dst, std::size_t size) {
    static const char hex[] = "0123456789abcdef";
    std::size_t out = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(src); *p; ++p) {
        unsigned char c = *p;
        if (c >= 0x20 && c != '"' && c != '\\') {
            dst[out++] = static_cast<char>(c);
        } else {
            dst[out++] = '\\';
            switch (c) {
            case '"': dst[out++] = '"'; break;
            case '\\': dst[out++] = '\\'; break;
            case '\n': dst[out++] = 'n'; break;
            case '\r': dst[out++] = 'r'; break;
            case '\t': dst[out++] = 't'; break;
            default:
                std::memcpy(dst + out, "u00", 3);
                dst[out + 3] = hex[c >> 4];
                dst[out + 4] = hex[c & 0xf];
                out += 5;
                break;
            }
        }
        if (out + 8 >= size)
            break;
    }
    dst[out] = '\0';
    return out;
}

std::size_t put_text(char *dst, const char *text) {
    std::size_t len = std::strlen(text);
    std::memcpy(dst, text, len);
    return len;
}

}  // namespace

void json_escape(const char *src, char *dst, std::size_t size) noexcept { escape_into(src, dst, size); }

QH_EXPORT const char *QH_CALL hosts_get(int index) noexcept {
    clear_err();
    if (index < 0 || index >= s_rec_count) {
        set_err("index %d out of range (count %d)", index, s_rec_count);
        return k_empty;
    }
    const host_record &rec = s_recs[index];
#if defined(__GNUC__)
    // Callers walk the table in order; asking for the next record now hides
    // most of the memory latency of the wide records.
    if (index + 1 < s_rec_count) {
        const host_record &next = s_recs[index + 1];
        __builtin_prefetch(next.ip);
        __builtin_prefetch(&next.enabled);
        __builtin_prefetch(&next.has_comment);
    }
#endif
    // Each field is escaped with the bound of its own escape size, and the
    // static_assert above guarantees that everything fits s_json.
    char *out = s_json;
    out += put_text(out, "{\"ip\":\"");
    out += escape_into(rec.ip, out, escaped_size(IP_SIZE));
    out += put_text(out, "\",\"name\":\"");
    out += escape_into(rec.name, out, escaped_size(NAME_SIZE));
    out += put_text(out, "\",\"enabled\":");
    out += put_text(out, rec.enabled ? "1" : "0");  // stored as 0 or 1 only
    out += put_text(out, ",\"comment\":\"");
    out += escape_into(rec.has_comment ? rec.comment : "", out, escaped_size(COMMENT_SIZE));
    out += put_text(out, "\"}");
    *out = '\0';
    return s_json;
}
