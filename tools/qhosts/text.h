// Text helpers that qhosts and its record decoder share. ASCII only: bytes
// of 0x80 and above belong to no class here and are never changed.
#ifndef QHOSTS_TEXT_H
#define QHOSTS_TEXT_H

#include <string>

bool is_digit(char c);

// The value of one hexadecimal digit, or -1.
int hex_value(char c);

std::string ascii_lower(std::string text);

#endif
