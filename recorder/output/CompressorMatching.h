#pragma once

#include "settings/AviCompressOptions.h"

#include <cstdint>
#include <string>
#include <vector>

// An installed compressor as the codec list knows it.
struct InstalledCompressor {
    std::u16string description;
    uint32_t fccHandler = 0;
};

// The codec list's rules over compressors in walking order (all comparisons
// case-sensitive; a later compressor wins over an earlier one).

// The last description that begins with "Xvid" or "DivX"; empty when none does.
std::u16string PreferredDescription(const std::vector<InstalledCompressor>& compressors);

// Fills options from the last compressor whose description equals text; an empty
// text stands for the first description containing "ffdshow", "XviD" or "Helix".
// Leaves options unchanged when none matches.
void ResolveAmong(const std::vector<InstalledCompressor>& compressors, const std::u16string& text,
                  AviCompressOptions& options);
