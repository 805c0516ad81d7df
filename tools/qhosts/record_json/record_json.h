// Decodes the one-line JSON object that hosts_get hands out. A library of its
// own, linked by qhosts and the fuzz targets, so that both read the library's
// text by JSON's own grammar rather than by the escapes the library happens
// to write.
#ifndef QHOSTS_RECORD_JSON_H
#define QHOSTS_RECORD_JSON_H

#include <cstddef>
#include <string>

// One record as hosts_get describes it. Its index is not kept in it: that is
// its place in the file, which changes as earlier records are removed.
struct record {
    std::string ip;
    std::string name;
    bool enabled = false;
    std::string comment;
};

// What a string may hold in raw bytes of 0x80 and above. The library passes
// stored bytes through, so a file that is not UTF-8 gives JSON that is not
// either; a reader that knows the stored text was UTF-8 asks for `utf8`.
enum class json_bytes { any, utf8 };

// Reads `text` as exactly one JSON object holding the keys "ip", "name",
// "enabled" and "comment", each once, in any order: three strings (every JSON
// escape decoded, \uXXXX as UTF-8 with surrogate pairs combined) and the
// number 0 or 1. Returns false and says why in `why` on any deviation.
bool decode_record_json(const char *text, json_bytes bytes, record &out, std::string &why);

// True when `size` bytes at `text` are well-formed UTF-8 (no overlong forms,
// no surrogates, nothing above U+10FFFF).
bool is_utf8(const char *text, std::size_t size);

#endif
