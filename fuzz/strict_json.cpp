#include "strict_json.h"

#include <cstring>

bool parse_record_json(const char *text, bool stored_is_utf8, record *out, std::string *why) {
    if (std::strpbrk(text, "\r\n") != nullptr) {
        *why = "more than one line";
        return false;
    }
    return decode_record_json(text, stored_is_utf8 ? json_bytes::utf8 : json_bytes::any, *out,
                              *why);
}
