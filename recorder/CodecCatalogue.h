#pragma once

#include "settings/AviCompressOptions.h"

#include <string>
#include <vector>

// Connects the codec list's description texts with the encoders this machine has.
class CCodecCatalogue {
public:
    struct Listing {
        std::vector<std::u16string> descriptions; // in walking order
        std::u16string preferred;                 // empty when none
    };

    static Listing Enumerate();
    // Fills options when a compressor matches the text; leaves them unchanged otherwise.
    static void Resolve(const std::u16string& text, AviCompressOptions& options);
    // Sets "display_status" of "Software\GNU\XviD" to 0 in the store.
    static void DisableXvidStatus();
};
