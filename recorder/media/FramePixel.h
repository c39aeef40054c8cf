#pragma once

#include <cstdint>

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

// One direct-colour pixel of a frame row: 16 bits as 0RRRRRGGGGGBBBBB little
// endian, 24 bits as B,G,R, 32 bits as B,G,R,0.
inline uint8_t* WriteFramePixel(uint8_t* at, int bitCount, Rgb colour) {
    if (bitCount == 16) {
        const auto packed = static_cast<uint16_t>(((colour.red >> 3) << 10) |
                                                  ((colour.green >> 3) << 5) | (colour.blue >> 3));
        *at++ = static_cast<uint8_t>(packed);
        *at++ = static_cast<uint8_t>(packed >> 8);
        return at;
    }
    *at++ = colour.blue;
    *at++ = colour.green;
    *at++ = colour.red;
    if (bitCount == 32)
        *at++ = 0;
    return at;
}

inline Rgb ReadFramePixel(const uint8_t* at, int bitCount) {
    if (bitCount == 16) {
        const unsigned packed = at[0] | (at[1] << 8);
        const auto expand = [](unsigned five) {
            return static_cast<uint8_t>((five << 3) | (five >> 2));
        };
        return {expand((packed >> 10) & 0x1F), expand((packed >> 5) & 0x1F), expand(packed & 0x1F)};
    }
    return {at[2], at[1], at[0]};
}
