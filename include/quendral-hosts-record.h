/*
 * quendral-hosts-record.h: decodes the one line of JSON that hosts_get()
 * returns into its four fields, for C and C++ callers.
 *
 *     qh_record rec;
 *     if (qh_record_parse(hosts_get(i), &rec) == 1) {
 *         printf("%s %s %d %s\n", rec.ip, rec.name, rec.enabled, rec.comment);
 *         qh_record_free(&rec);
 *     } else {
 *         fprintf(stderr, "bad record text: %s\n", rec.error);
 *     }
 *
 * Header-only (static inline functions, C99 or C++), so the library keeps
 * its eleven exports. The decoder follows JSON's grammar, not just the
 * escapes the library writes: one object with the keys "ip", "name",
 * "enabled" and "comment", each once, in any order; three strings, with every
 * escape decoded (\uXXXX as UTF-8, surrogate pairs combined) and bytes of
 * 0x80 and above kept as they are (the library passes stored bytes through,
 * so a file that is not UTF-8 gives text that is not either); and enabled the
 * number 0 or 1. A string holding \u0000 is refused, since a C text cannot
 * carry it (the library never writes one).
 */
#ifndef QUENDRAL_HOSTS_RECORD_H
#define QUENDRAL_HOSTS_RECORD_H

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#if defined(__cplusplus)
extern "C" {
#endif

/* One record. The three texts live in one block that qh_record_free()
 * releases; after a failed parse, nothing needs freeing and `error` says
 * why (a static text). */
typedef struct qh_record {
    char *ip;
    char *name;
    int enabled;   /* 1 or 0 */
    char *comment; /* "" when the record has none */
    const char *error;
    char *storage_; /* the block behind the texts; internal */
} qh_record;

/* Reading position and output while decoding; internal. */
typedef struct qh_record_reader_ {
    const char *p;
    char *out;
    int utf8_only;
    const char *error;
} qh_record_reader_;

static inline int qh_record_fail_(qh_record_reader_ *r, const char *why) {
    if (r->error == NULL)
        r->error = why;
    return 0;
}

/* Length of the well-formed UTF-8 sequence at `p` (`left` bytes there), or 0. */
static inline size_t qh_record_utf8_length_(const unsigned char *p, size_t left) {
    size_t length, i;
    unsigned char low = 0x80, high = 0xBF;
    if (p[0] < 0x80)
        return 1;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        length = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        length = 3;
        if (p[0] == 0xE0)
            low = 0xA0; /* overlong below U+0800 */
        if (p[0] == 0xED)
            high = 0x9F; /* UTF-16 surrogates */
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        length = 4;
        if (p[0] == 0xF0)
            low = 0x90; /* overlong below U+10000 */
        if (p[0] == 0xF4)
            high = 0x8F; /* above U+10FFFF */
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

/* 1 when the `size` bytes at `text` are well-formed UTF-8 (no overlong
 * forms, no surrogates, nothing above U+10FFFF), else 0. */
static inline int qh_record_is_utf8(const char *text, size_t size) {
    const unsigned char *p = (const unsigned char *)text;
    while (size > 0) {
        size_t length = qh_record_utf8_length_(p, size);
        if (length == 0)
            return 0;
        p += length;
        size -= length;
    }
    return 1;
}

static inline void qh_record_skip_space_(qh_record_reader_ *r) {
    while (*r->p == ' ' || *r->p == '\t' || *r->p == '\n' || *r->p == '\r')
        ++r->p;
}

static inline int qh_record_punct_(qh_record_reader_ *r, char c) {
    qh_record_skip_space_(r);
    if (*r->p != c)
        return qh_record_fail_(r, "unexpected character");
    ++r->p;
    return 1;
}

static inline int qh_record_hex4_(qh_record_reader_ *r, unsigned *value) {
    int i;
    *value = 0;
    for (i = 0; i < 4; ++i) {
        char c = r->p[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = (unsigned)(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = (unsigned)(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = (unsigned)(c - 'A' + 10);
        else
            return qh_record_fail_(r, "bad \\u escape");
        *value = *value * 16 + digit;
    }
    r->p += 4;
    return 1;
}

static inline void qh_record_put_utf8_(qh_record_reader_ *r, unsigned code_point) {
    if (code_point < 0x80) {
        *r->out++ = (char)code_point;
    } else if (code_point < 0x800) {
        *r->out++ = (char)(0xC0 | (code_point >> 6));
        *r->out++ = (char)(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        *r->out++ = (char)(0xE0 | (code_point >> 12));
        *r->out++ = (char)(0x80 | ((code_point >> 6) & 0x3F));
        *r->out++ = (char)(0x80 | (code_point & 0x3F));
    } else {
        *r->out++ = (char)(0xF0 | (code_point >> 18));
        *r->out++ = (char)(0x80 | ((code_point >> 12) & 0x3F));
        *r->out++ = (char)(0x80 | ((code_point >> 6) & 0x3F));
        *r->out++ = (char)(0x80 | (code_point & 0x3F));
    }
}

/* After "\u": one code point, or a surrogate pair written as two escapes. */
static inline int qh_record_unicode_(qh_record_reader_ *r) {
    unsigned code_point, low;
    if (!qh_record_hex4_(r, &code_point))
        return 0;
    if (code_point == 0)
        return qh_record_fail_(r, "\\u0000 in a string");
    if (code_point >= 0xDC00 && code_point <= 0xDFFF)
        return qh_record_fail_(r, "lone low surrogate");
    if (code_point >= 0xD800 && code_point <= 0xDBFF) {
        if (r->p[0] != '\\' || r->p[1] != 'u')
            return qh_record_fail_(r, "high surrogate without its pair");
        r->p += 2;
        if (!qh_record_hex4_(r, &low))
            return 0;
        if (low < 0xDC00 || low > 0xDFFF)
            return qh_record_fail_(r, "high surrogate without its pair");
        code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
    }
    qh_record_put_utf8_(r, code_point);
    return 1;
}

/* A string, decoded to the output as a NUL-terminated text; *text points at it. */
static inline int qh_record_string_(qh_record_reader_ *r, char **text) {
    qh_record_skip_space_(r);
    if (*r->p != '"')
        return qh_record_fail_(r, "expected a string");
    ++r->p;
    *text = r->out;
    for (;;) {
        unsigned char c = (unsigned char)*r->p;
        if (c == '\0')
            return qh_record_fail_(r, "unterminated string");
        if (c == '"') {
            ++r->p;
            *r->out++ = '\0';
            return 1;
        }
        if (c < 0x20)
            return qh_record_fail_(r, "raw control character in a string");
        if (c >= 0x80) {
            size_t length = 1;
            if (r->utf8_only) {
                length = qh_record_utf8_length_((const unsigned char *)r->p, strlen(r->p));
                if (length == 0)
                    return qh_record_fail_(r, "invalid UTF-8");
            }
            memcpy(r->out, r->p, length);
            r->out += length;
            r->p += length;
            continue;
        }
        ++r->p;
        if (c != '\\') {
            *r->out++ = (char)c;
            continue;
        }
        c = (unsigned char)*r->p++;
        switch (c) {
            case '"':
            case '\\':
            case '/':
                *r->out++ = (char)c;
                break;
            case 'b':
                *r->out++ = '\b';
                break;
            case 'f':
                *r->out++ = '\f';
                break;
            case 'n':
                *r->out++ = '\n';
                break;
            case 'r':
                *r->out++ = '\r';
                break;
            case 't':
                *r->out++ = '\t';
                break;
            case 'u':
                if (!qh_record_unicode_(r))
                    return 0;
                break;
            default:
                --r->p;
                return qh_record_fail_(r, "bad escape");
        }
    }
}

/* JSON's number grammar, of which only 0 and 1 are taken. */
static inline int qh_record_enabled_(qh_record_reader_ *r, int *enabled) {
    const char *start;
    qh_record_skip_space_(r);
    start = r->p;
    if (*r->p == '-')
        ++r->p;
    if (*r->p == '0') {
        ++r->p;
    } else if (*r->p >= '1' && *r->p <= '9') {
        while (*r->p >= '0' && *r->p <= '9')
            ++r->p;
    } else {
        return qh_record_fail_(r, "expected a number");
    }
    if (*r->p == '.') {
        ++r->p;
        if (!(*r->p >= '0' && *r->p <= '9'))
            return qh_record_fail_(r, "no digits after the decimal point");
        while (*r->p >= '0' && *r->p <= '9')
            ++r->p;
    }
    if (*r->p == 'e' || *r->p == 'E') {
        ++r->p;
        if (*r->p == '+' || *r->p == '-')
            ++r->p;
        if (!(*r->p >= '0' && *r->p <= '9'))
            return qh_record_fail_(r, "no digits in the exponent");
        while (*r->p >= '0' && *r->p <= '9')
            ++r->p;
    }
    if (r->p - start != 1 || (*start != '0' && *start != '1'))
        return qh_record_fail_(r, "enabled is not 0 or 1");
    *enabled = *start == '1';
    return 1;
}

static inline int qh_record_object_(qh_record_reader_ *r, qh_record *rec) {
    int seen = 0;
    if (!qh_record_punct_(r, '{'))
        return 0;
    for (;;) {
        char *key;
        int field;
        if (!qh_record_string_(r, &key) || !qh_record_punct_(r, ':'))
            return 0;
        if (strcmp(key, "ip") == 0)
            field = 1;
        else if (strcmp(key, "name") == 0)
            field = 2;
        else if (strcmp(key, "enabled") == 0)
            field = 4;
        else if (strcmp(key, "comment") == 0)
            field = 8;
        else
            return qh_record_fail_(r, "unknown key");
        if (seen & field)
            return qh_record_fail_(r, "a key given twice");
        seen |= field;
        /* The key's text is not kept: its room is used again. */
        r->out = key;
        if (field == 4) {
            if (!qh_record_enabled_(r, &rec->enabled))
                return 0;
        } else if (!qh_record_string_(r, field == 1   ? &rec->ip
                                         : field == 2 ? &rec->name
                                                      : &rec->comment)) {
            return 0;
        }
        qh_record_skip_space_(r);
        if (*r->p != ',')
            break;
        ++r->p;
    }
    if (!qh_record_punct_(r, '}'))
        return 0;
    qh_record_skip_space_(r);
    if (*r->p != '\0')
        return qh_record_fail_(r, "text after the object");
    if (seen != 15)
        return qh_record_fail_(r, "a key is missing");
    return 1;
}

static inline int qh_record_decode_(const char *json, int utf8_only, qh_record *rec) {
    qh_record_reader_ reader;
    char *storage;
    rec->ip = rec->name = rec->comment = rec->storage_ = NULL;
    rec->enabled = 0;
    rec->error = NULL;
    if (json == NULL) {
        rec->error = "no text";
        return -1;
    }
    /* Decoded texts are never longer than their JSON, quotes included. */
    storage = (char *)malloc(strlen(json) + 1);
    if (storage == NULL) {
        rec->error = "out of memory";
        return -1;
    }
    reader.p = json;
    reader.out = storage;
    reader.utf8_only = utf8_only;
    reader.error = NULL;
    if (!qh_record_object_(&reader, rec)) {
        free(storage);
        rec->ip = rec->name = rec->comment = NULL;
        rec->enabled = 0;
        rec->error = reader.error;
        return -1;
    }
    rec->storage_ = storage;
    return 1;
}

/* Decodes `json` into `rec`. Returns 1, or -1 with `rec->error` set and
 * nothing to free. */
static inline int qh_record_parse(const char *json, qh_record *rec) {
    return qh_record_decode_(json, 0, rec);
}

/* As qh_record_parse, and refuses bytes of 0x80 and above that are not
 * well-formed UTF-8 (for texts known to have been UTF-8). */
static inline int qh_record_parse_utf8(const char *json, qh_record *rec) {
    return qh_record_decode_(json, 1, rec);
}

/* Frees the texts of a record that qh_record_parse filled. */
static inline void qh_record_free(qh_record *rec) {
    free(rec->storage_);
    rec->ip = rec->name = rec->comment = rec->storage_ = NULL;
}

#if defined(__cplusplus)
}
#endif

#endif /* QUENDRAL_HOSTS_RECORD_H */
