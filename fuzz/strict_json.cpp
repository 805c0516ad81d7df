#include "strict_json.h"

#include <cstring>

namespace {

class reader {
public:
    explicit reader(const char *text) : p_(text) {}

    const std::string &error() const { return why_; }

    bool record(json_record *out) {
        if (std::strpbrk(p_, "\r\n") != nullptr)
            return fail("more than one line");
        std::string enabled;
        bool ok = punct('{') && member("ip") && string(&out->ip) && punct(',') &&
                  member("name") && string(&out->name) && punct(',') &&
                  member("enabled") && number(&enabled) && punct(',') &&
                  member("comment") && string(&out->comment) && punct('}');
        if (!ok)
            return false;
        skip_space();
        if (*p_ != '\0')
            return fail("text after the object");
        if (enabled != "0" && enabled != "1")
            return fail("enabled is " + enabled + ", not 0 or 1");
        out->enabled = enabled[0] - '0';
        return true;
    }

private:
    bool fail(const std::string &why) {
        if (why_.empty())
            why_ = why + " at '" + std::string(p_).substr(0, 40) + "'";
        return false;
    }

    void skip_space() {
        while (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')
            ++p_;
    }

    bool punct(char c) {
        skip_space();
        if (*p_ != c)
            return fail(std::string("expected '") + c + "'");
        ++p_;
        return true;
    }

    bool member(const char *key) {
        std::string got;
        if (!string(&got))
            return false;
        if (got != key)
            return fail("key '" + got + "' where '" + key + "' belongs");
        return punct(':');
    }

    static int hex_value(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool hex4(unsigned *value) {
        *value = 0;
        for (int i = 0; i < 4; ++i) {
            int digit = hex_value(p_[i]);
            if (digit < 0)
                return fail("bad \\u escape");
            *value = *value * 16 + static_cast<unsigned>(digit);
        }
        p_ += 4;
        return true;
    }

    static void put_utf8(unsigned cp, std::string *out) {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    // After "\u": one code point, or a surrogate pair written as two escapes.
    bool unicode_escape(std::string *out) {
        unsigned cp = 0;
        if (!hex4(&cp))
            return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return fail("lone low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low = 0;
            if (p_[0] != '\\' || p_[1] != 'u')
                return fail("high surrogate without its pair");
            p_ += 2;
            if (!hex4(&low))
                return false;
            if (low < 0xDC00 || low > 0xDFFF)
                return fail("high surrogate without its pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        put_utf8(cp, out);
        return true;
    }

    bool string(std::string *out) {
        skip_space();
        if (*p_ != '"')
            return fail("expected a string");
        ++p_;
        out->clear();
        for (;;) {
            unsigned char c = static_cast<unsigned char>(*p_);
            if (c == '\0')
                return fail("unterminated string");
            ++p_;
            if (c == '"')
                return true;
            if (c < 0x20)
                return fail("raw control character in a string");
            if (c != '\\') {
                out->push_back(static_cast<char>(c));
                continue;
            }
            char e = *p_++;
            switch (e) {
            case '"': out->push_back('"'); break;
            case '\\': out->push_back('\\'); break;
            case '/': out->push_back('/'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'n': out->push_back('\n'); break;
            case 'r': out->push_back('\r'); break;
            case 't': out->push_back('\t'); break;
            case 'u':
                if (!unicode_escape(out))
                    return false;
                break;
            default:
                --p_;
                return fail("bad escape");
            }
        }
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    // JSON's number grammar; the caller decides which values it accepts.
    bool number(std::string *out) {
        skip_space();
        const char *start = p_;
        if (*p_ == '-')
            ++p_;
        if (*p_ == '0') {
            ++p_;
        } else if (is_digit(*p_)) {
            while (is_digit(*p_))
                ++p_;
        } else {
            return fail("expected a number");
        }
        if (*p_ == '.') {
            ++p_;
            if (!is_digit(*p_))
                return fail("no digits after the decimal point");
            while (is_digit(*p_))
                ++p_;
        }
        if (*p_ == 'e' || *p_ == 'E') {
            ++p_;
            if (*p_ == '+' || *p_ == '-')
                ++p_;
            if (!is_digit(*p_))
                return fail("no digits in the exponent");
            while (is_digit(*p_))
                ++p_;
        }
        out->assign(start, p_);
        return true;
    }

    const char *p_;
    std::string why_;
};

}  // namespace

bool parse_record_json(const char *text, json_record *out, std::string *why) {
    reader in(text);
    if (in.record(out))
        return true;
    *why = in.error();
    return false;
}
