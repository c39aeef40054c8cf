#pragma once

#include <string>

// The settings file's own escape: every unit outside ASCII, and '=', becomes
// "=XX" groups of its UTF-8-style bytes, so the file stays plain ASCII.
std::u16string EscapeString(const std::u16string& text);
std::u16string UnescapeString(const std::u16string& text);
int HexPairValue(char16_t high, char16_t low);
