/* quendral-hosts-record.h compiled as C99, for record_header_test.cpp. */
#include <stdio.h>

#include "quendral-hosts-record.h"

/* Writes "ip|name|enabled|comment" of the record in `json` to `out`;
 * returns what qh_record_parse returned. */
int qh_c99_summary(const char *json, char *out, size_t size) {
    qh_record rec;
    int result = qh_record_parse(json, &rec);
    if (result != 1) {
        snprintf(out, size, "%s", rec.error);
        return result;
    }
    snprintf(out, size, "%s|%s|%d|%s", rec.ip, rec.name, rec.enabled, rec.comment);
    qh_record_free(&rec);
    return result;
}
