#include "recorder/output/CompressorMatching.h"

#include "recorder/output/EncoderTable.h"

namespace {

constexpr uint32_t kStreamTypeVideo = MakeFourCC("vids");
// Above the 0-10000 scale on purpose: every encoder reads it as its best quality.
constexpr uint32_t kBestQuality = 95000;

bool ContainsFallbackWord(const std::u16string& description) {
    for (std::u16string_view word : {u"ffdshow", u"XviD", u"Helix"}) {
        if (description.find(word) != std::u16string::npos)
            return true;
    }
    return false;
}

} // namespace

std::u16string PreferredDescription(const std::vector<InstalledCompressor>& compressors) {
    std::u16string preferred;
    for (const InstalledCompressor& compressor : compressors) {
        std::u16string_view description = compressor.description;
        if (description.starts_with(u"Xvid") || description.starts_with(u"DivX"))
            preferred = compressor.description;
    }
    return preferred;
}

void ResolveAmong(const std::vector<InstalledCompressor>& compressors, const std::u16string& text,
                  AviCompressOptions& options) {
    std::u16string name = text;
    for (const InstalledCompressor& compressor : compressors) {
        if (name.empty() && ContainsFallbackWord(compressor.description))
            name = compressor.description;
        if (compressor.description == name) {
            options = AviCompressOptions{};
            options.fccType = kStreamTypeVideo;
            options.fccHandler = compressor.fccHandler;
            options.dwQuality = kBestQuality;
        }
    }
}
