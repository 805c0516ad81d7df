#include "strict_json.h"

#include <cstring>
#include <nlohmann/json.hpp>

namespace {

// JSON requires UTF-8; a text that is not is read with each byte of 0x80 and
// above standing for the code point of that value, and turned back after.
std::string bytes_as_latin1_utf8(const char *text) {
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        if (*p < 0x80) {
            out.push_back(static_cast<char>(*p));
        } else {
            out.push_back(static_cast<char>(0xC0 | (*p >> 6)));
            out.push_back(static_cast<char>(0x80 | (*p & 0x3F)));
        }
    }
    return out;
}

// The reverse, for the texts decoded from such JSON; false when a code point
// above 0xFF came from an escape, which the stored bytes cannot hold.
bool latin1_utf8_as_bytes(const std::string &text, std::string &out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
            out.push_back(static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool parse_record_json(const char *text, bool stored_is_utf8, strict_record *out,
                       std::string *why) {
    if (std::strpbrk(text, "\r\n") != nullptr) {
        *why = "more than one line";
        return false;
    }
    const nlohmann::json value = nlohmann::json::parse(
        stored_is_utf8 ? std::string(text) : bytes_as_latin1_utf8(text), nullptr, false);
    if (value.is_discarded()) {
        *why = "not JSON";
        return false;
    }
    if (!value.is_object() || value.size() != 4) {
        *why = "not an object of four keys";
        return false;
    }
    for (const char *key : {"ip", "name", "comment"}) {
        if (!value.contains(key) || !value[key].is_string()) {
            *why = std::string("no string ") + key;
            return false;
        }
    }
    if (!value.contains("enabled") || !value["enabled"].is_number_integer() ||
        (value["enabled"] != 0 && value["enabled"] != 1)) {
        *why = "enabled is not 0 or 1";
        return false;
    }
    out->enabled = value["enabled"] == 1;
    std::string *fields[] = {&out->ip, &out->name, &out->comment};
    const char *keys[] = {"ip", "name", "comment"};
    for (int i = 0; i < 3; ++i) {
        const std::string decoded = value[keys[i]].get<std::string>();
        if (stored_is_utf8) {
            *fields[i] = decoded;
        } else if (!latin1_utf8_as_bytes(decoded, *fields[i])) {
            *why = std::string("an escape in ") + keys[i] + " beyond what bytes hold";
            return false;
        }
    }
    return true;
}
