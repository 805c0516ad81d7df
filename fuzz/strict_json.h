// The strict check of the JSON that hosts_get hands out, on top of the
// decoder qhosts uses: one line, and valid UTF-8 wherever the stored texts
// were valid UTF-8 (the library passes other bytes through unchanged).
#ifndef QH_FUZZ_STRICT_JSON_H
#define QH_FUZZ_STRICT_JSON_H

#include <string>

#include "record_json.h"

// Returns false and says why in `why` when `text` is not one line of JSON
// that decode_record_json accepts, asking for UTF-8 when `stored_is_utf8`.
bool parse_record_json(const char *text, bool stored_is_utf8, record *out, std::string *why);

#endif
