#include "recorder/output/CodecCatalogue.h"

#include "recorder/output/CompressorMatching.h"
#include "recorder/output/EncoderTable.h"
#include "recorder/output/OutputContainer.h"
#include "settings/RegEdit.h"

#include <algorithm>
#include <string_view>

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

const EncoderEntry* EntryDescribed(const std::u16string& description) {
    const auto table = EncoderTable();
    auto found =
        std::ranges::find(table, std::u16string_view(description), &EncoderEntry::description);
    return found == table.end() ? nullptr : &*found;
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

bool CCodecCatalogue::ContainerTakes(const std::u16string& path,
                                     const AviCompressOptions& options) {
    const EncoderEntry* entry = FindEncoderEntry(options.fccHandler);
    return entry && ContainerHolds(ContainerForFile(path), *entry);
}

std::u16string CCodecCatalogue::PreferredFor(const std::u16string& path,
                                             const std::vector<std::u16string>& listed) {
    const ContainerKind kind = ContainerForFile(path);
    std::vector<InstalledCompressor> taken;
    for (const std::u16string& description : listed) {
        const EncoderEntry* entry = EntryDescribed(description);
        if (!entry || !ContainerHolds(kind, *entry))
            continue;
        if (kind != ContainerKind::Avi && std::string_view(entry->encoderName) == "libx264")
            return description;
        taken.push_back({description, entry->fourcc});
    }
    const std::u16string preferred = PreferredDescription(taken);
    return !preferred.empty() || taken.empty() ? preferred : taken.front().description;
}
