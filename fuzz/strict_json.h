// A small, strict reader for the JSON that hosts_get hands out, so that the
// fuzz targets check the text against JSON's grammar rather than against the
// library's own escaping code.
#ifndef QH_FUZZ_STRICT_JSON_H
#define QH_FUZZ_STRICT_JSON_H

#include <string>

struct json_record {
    std::string ip;
    std::string name;
    int enabled = -1;
    std::string comment;
};

// Reads `text` as exactly one JSON object on one line holding the keys "ip",
// "name", "enabled" and "comment" in that order: three strings (escapes
// decoded, \uXXXX as UTF-8) and the number 0 or 1. Bytes of 0x80 and above
// are taken as they are, since the library passes stored bytes through.
// Returns false and says why in `why` on any deviation.
bool parse_record_json(const char *text, json_record *out, std::string *why);

#endif
