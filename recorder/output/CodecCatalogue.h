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
    // Whether the file type that the path's name picks (see OutputContainer) can
    // store the codec the options name.
    static bool ContainerTakes(const std::u16string& path, const AviCompressOptions& options);
    // The best of the listed descriptions for a file of that name: H.264 for MP4 and
    // Matroska, otherwise the preferred entry among those the file type takes, or
    // the first of them; empty when the file type takes none.
    static std::u16string PreferredFor(const std::u16string& path,
                                       const std::vector<std::u16string>& listed);
    // Sets "display_status" of "Software\GNU\XviD" to 0 in the store.
    static void DisableXvidStatus();
};
