// The strict check of the JSON that hosts_get hands out, by a parser that is
// not the library's own decoder (nlohmann-json): one line, one object of the
// four keys, and valid UTF-8 wherever the stored texts were valid UTF-8 (the
// library passes other bytes through unchanged).
#ifndef QH_FUZZ_STRICT_JSON_H
#define QH_FUZZ_STRICT_JSON_H

#include <string>

// A record as the strict parser reads it.
struct strict_record {
    std::string ip;
    std::string name;
    bool enabled = false;
    std::string comment;
};

// Returns false and says why in `why` when `text` is not one line holding
// exactly one JSON object with the string keys "ip", "name" and "comment"
// and "enabled" the number 0 or 1. When the stored texts were not all UTF-8
// (`stored_is_utf8` false), bytes of 0x80 and above are taken as they are.
bool parse_record_json(const char *text, bool stored_is_utf8, strict_record *out, std::string *why);

#endif
