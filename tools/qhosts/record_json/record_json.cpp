#include "record_json.h"

#include "text.h"

namespace {

// Length of the UTF-8 sequence starting at `p` (at most `left` bytes
// available), or 0 when it is not well-formed.
std::size_t utf8_sequence(const unsigned char *p, std::size_t left) {
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong below U+0800
        if (lead == 0xED)
            high = 0x9F;  // UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong below U+10000
        if (lead == 0xF4)
            high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

void put_utf8(unsigned code_point, std::string &out) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

class json_reader {
public:
    json_reader(const char *text, json_bytes bytes) : p_(text), bytes_(bytes) {}

    const std::string &error() const { return why_; }

    bool read_record(record &out) {
        enum { k_ip = 1, k_name = 2, k_enabled = 4, k_comment = 8, k_all = 15 };
        int seen = 0;
        if (!punct('{'))
            return false;
        for (;;) {
            std::string key;
            if (!string(key) || !punct(':'))
                return false;
            int field;
            if (key == "ip") {
                field = k_ip;
            } else if (key == "name") {
                field = k_name;
            } else if (key == "comment") {
                field = k_comment;
            } else if (key == "enabled") {
                field = k_enabled;
            } else {
                return fail("unknown key '" + key + "'");
            }
            if (seen & field)
                return fail("key '" + key + "' given twice");
            seen |= field;
            if (field == k_enabled) {
                std::string number_text;
                if (!number(number_text))
                    return false;
                if (number_text != "0" && number_text != "1")
                    return fail("enabled is " + number_text + ", not 0 or 1");
                out.enabled = number_text == "1";
            } else if (!string(field == k_ip ? out.ip : field == k_name ? out.name : out.comment)) {
                return false;
            }
            skip_space();
            if (*p_ != ',')
                break;
            ++p_;
        }
        if (!punct('}'))
            return false;
        skip_space();
        if (*p_ != '\0')
            return fail("text after the object");
        if (seen != k_all)
            return fail("a key is missing");
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

    bool hex4(unsigned &value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(p_[i]);
            if (digit < 0)
                return fail("bad \\u escape");
            value = value * 16 + static_cast<unsigned>(digit);
        }
        p_ += 4;
        return true;
    }

    // After "\u": one code point, or a surrogate pair written as two escapes.
    bool unicode_escape(std::string &out) {
        unsigned code_point = 0;
        if (!hex4(code_point))
            return false;
        if (code_point >= 0xDC00 && code_point <= 0xDFFF)
            return fail("lone low surrogate");
        if (code_point >= 0xD800 && code_point <= 0xDBFF) {
            if (p_[0] != '\\' || p_[1] != 'u')
                return fail("high surrogate without its pair");
            p_ += 2;
            unsigned low = 0;
            if (!hex4(low))
                return false;
            if (low < 0xDC00 || low > 0xDFFF)
                return fail("high surrogate without its pair");
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
        }
        put_utf8(code_point, out);
        return true;
    }

    bool string(std::string &out) {
        skip_space();
        if (*p_ != '"')
            return fail("expected a string");
        ++p_;
        out.clear();
        for (;;) {
            const unsigned char c = static_cast<unsigned char>(*p_);
            if (c == '\0')
                return fail("unterminated string");
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c < 0x20)
                return fail("raw control character in a string");
            if (c >= 0x80) {
                std::size_t length = 1;
                if (bytes_ == json_bytes::utf8) {
                    length = utf8_sequence(reinterpret_cast<const unsigned char *>(p_), 4);
                    if (length == 0)
                        return fail("invalid UTF-8");
                }
                out.append(p_, length);
                p_ += length;
                continue;
            }
            ++p_;
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            const char escape = *p_++;
            switch (escape) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
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

    // JSON's number grammar; the caller decides which values it accepts.
    bool number(std::string &out) {
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
        out.assign(start, p_);
        return true;
    }

    const char *p_;
    json_bytes bytes_;
    std::string why_;
};

}  // namespace

bool decode_record_json(const char *text, json_bytes bytes, record &out, std::string &why) {
    json_reader reader(text, bytes);
    if (reader.read_record(out))
        return true;
    why = reader.error();
    return false;
}

bool is_utf8(const char *text, std::size_t size) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (size > 0) {
        const std::size_t length = utf8_sequence(p, size);
        if (length == 0)
            return false;
        p += length;
        size -= length;
    }
    return true;
}
