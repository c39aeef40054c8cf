#include "settings/Escaping.h"

#include <cstdio>

namespace {

void AppendGroup(std::u16string& out, unsigned byte) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "=%02X", byte & 0xFF);
    out.append(digits, digits + 3);
}

// Bytes in a group announced by its lead byte; 0 where the lead byte starts no group.
size_t GroupLength(int lead) {
    if (lead <= 0x7E)
        return 1;
    if (lead >= 0xC0 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF7)
        return 4;
    if (lead >= 0xF8 && lead <= 0xFB)
        return 5;
    if (lead >= 0xFC && lead <= 0xFD)
        return 6;
    return 0;
}

// One 16-bit unit from a group of bytes. Groups longer than three keep only the
// low 16 bits of their value, which come from their last three bytes.
char16_t DecodeGroup(const int* bytes, size_t length) {
    unsigned value = 0;
    switch (length) {
    case 1:
        value = bytes[0];
        break;
    case 2:
        value = ((bytes[0] - 0xC0) << 6) + (bytes[1] - 0x80);
        break;
    default: {
        const size_t first = length == 3 ? 0 : length - 3;
        const int lead = length == 3 ? bytes[0] - 0xE0 : bytes[first] - 0x80;
        value = (lead << 12) + ((bytes[first + 1] - 0x80) << 6) + (bytes[first + 2] - 0x80);
    }
    }
    return static_cast<char16_t>(value & 0xFFFF);
}

} // namespace

int HexPairValue(char16_t high, char16_t low) {
    const auto digit = [](char16_t c) {
        if (c >= u'1' && c <= u'9')
            return c - u'0';
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        return 0;
    };
    return 16 * digit(high) + digit(low);
}

std::u16string EscapeString(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t unit : text) {
        if (unit == u'=') {
            AppendGroup(out, 0x3D);
        } else if (unit < 0x80) {
            out += unit;
        } else if (unit < 0x800) {
            AppendGroup(out, 0xC0 + (unit >> 6));
            AppendGroup(out, 0x80 + (unit & 0x3F));
        } else {
            AppendGroup(out, 0xE0 + (unit >> 12));
            AppendGroup(out, 0x80 + ((unit >> 6) & 0x3F));
            AppendGroup(out, 0x80 + (unit & 0x3F));
        }
    }
    return out;
}

std::u16string UnescapeString(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        if (text[i] != u'=') {
            out += text[i++];
            continue;
        }
        // Each group is '=' and two digits; the later '=' signs are not looked at.
        if (i + 2 >= n)
            break;
        int bytes[6] = {HexPairValue(text[i + 1], text[i + 2])};
        const size_t length = GroupLength(bytes[0]);
        if (length == 0) {
            ++i;
            continue;
        }
        if (i + 3 * length - 1 >= n)
            break;
        for (size_t k = 1; k < length; ++k)
            bytes[k] = HexPairValue(text[i + 3 * k + 1], text[i + 3 * k + 2]);
        out += DecodeGroup(bytes, length);
        i += 3 * length;
    }
    return out;
}
