#include "recorder/CodecCatalogue.h"

#include "recorder/CompressorMatching.h"
#include "recorder/EncoderTable.h"
#include "settings/RegEdit.h"

namespace {

// Big enough for every encoder's block size, small enough to open quickly.
constexpr int kQuerySize = 64;
constexpr unsigned kQueryFrameRate = 25;

// The compressors this machine can use, in walking order: an encoder that the
// linked libavcodec lacks or that does not open is skipped.
std::vector<InstalledCompressor> InstalledCompressors() {
    std::vector<InstalledCompressor> installed;
    for (const EncoderEntry& entry : EncoderTable()) {
        if (OpenEncoder(entry, kQuerySize, kQuerySize, kQueryFrameRate))
            installed.push_back({std::u16string(entry.description), entry.fourcc});
    }
    return installed;
}

} // namespace

CCodecCatalogue::Listing CCodecCatalogue::Enumerate() {
    Listing listing;
    std::vector<InstalledCompressor> installed = InstalledCompressors();
    for (const InstalledCompressor& compressor : installed)
        listing.descriptions.push_back(compressor.description);
    listing.preferred = PreferredDescription(installed);
    return listing;
}

void CCodecCatalogue::Resolve(const std::u16string& text, AviCompressOptions& options) {
    ResolveAmong(InstalledCompressors(), text, options);
}

void CCodecCatalogue::DisableXvidStatus() {
    CRegEdit().WriteDword(true, u"Software\\GNU\\XviD", u"display_status", 0);
}
