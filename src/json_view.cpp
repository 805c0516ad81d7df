// Hands out one record as a one-line JSON object.
#include <cstdio>

#include "hosts_internal.h"

namespace {

// Worst case: every byte of a full field becomes a six-byte \u escape, plus
// the slack that json_escape's bound keeps free, so no stored text is cut.
constexpr std::size_t escaped_size(std::size_t field) { return 6 * (field - 1) + 8; }

const char k_json_format[] = "{\"ip\":\"%s\",\"name\":\"%s\",\"enabled\":%d,\"comment\":\"%s\"}";

static_assert(escaped_size(IP_SIZE) + escaped_size(NAME_SIZE) + escaped_size(COMMENT_SIZE) +
                      sizeof k_json_format + 11 <= JSON_SIZE,
              "a fully escaped record must fit the JSON buffer");

char s_json[JSON_SIZE];
const char k_empty[] = "";

}  // namespace

void json_escape(const char *src, char *dst, std::size_t size) noexcept {
    std::size_t out = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(src); *p; ++p) {
        const char *pair = nullptr;
        switch (*p) {
        case '"': pair = "\\\""; break;
        case '\\': pair = "\\\\"; break;
        case '\n': pair = "\\n"; break;
        case '\r': pair = "\\r"; break;
        case '\t': pair = "\\t"; break;
        default: break;
        }
        if (pair != nullptr) {
            dst[out++] = pair[0];
            dst[out++] = pair[1];
        } else if (*p < 0x20) {
            std::snprintf(dst + out, 7, "\\u%04x", *p);
            out += 6;
        } else {
            dst[out++] = static_cast<char>(*p);
        }
        if (out + 8 >= size)
            break;
    }
    dst[out] = '\0';
}

QH_EXPORT const char *QH_CALL hosts_get(int index) noexcept {
    clear_err();
    if (index < 0 || index >= s_rec_count) {
        set_err("index %d out of range (count %d)", index, s_rec_count);
        return k_empty;
    }
    const host_record &rec = s_recs[index];
    char ip[escaped_size(IP_SIZE)];
    char name[escaped_size(NAME_SIZE)];
    char comment[escaped_size(COMMENT_SIZE)];
    json_escape(rec.ip, ip, sizeof ip);
    json_escape(rec.name, name, sizeof name);
    json_escape(rec.has_comment ? rec.comment : "", comment, sizeof comment);
    std::snprintf(s_json, sizeof s_json, k_json_format, ip, name, rec.enabled, comment);
    return s_json;
}
