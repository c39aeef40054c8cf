#pragma once

#include <cstdint>

// RIFF's sizes and header fields are 32-bit little-endian on any host.
inline uint32_t ReadLe32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}
