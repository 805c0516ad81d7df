// Text helpers that qhosts and its record decoder share. ASCII only: bytes
// of 0x80 and above belong to no class here and are never changed.
#ifndef QHOSTS_TEXT_H
#define QHOSTS_TEXT_H

#include <string>

bool is_digit(char c);

// True for a non-empty text of decimal digits only.
bool is_digits(const std::string &text);

// The value of one hexadecimal digit, or -1.
int hex_value(char c);

std::string ascii_lower(std::string text);

// `text` without its leading and trailing blanks (spaces and tabs).
std::string trimmed(const std::string &text);

// Whether a text holds a glob's special characters: '*', '?' or '['.
bool has_glob(const std::string &text);

// Shell-style match of the whole `text` against `pattern`, ignoring ASCII
// case: '*' any run of bytes, '?' one byte, "[a-z]" and "[!a-z]" one byte of
// (or not of) a set. A '[' without its ']' stands for itself.
bool glob_match(const std::string &pattern, const std::string &text);

#endif
