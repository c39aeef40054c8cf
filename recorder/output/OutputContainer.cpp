#include "recorder/output/OutputContainer.h"

#include "recorder/output/AviFileOutput.h"
#include "recorder/output/EncoderTable.h"
#include "settings/Utf16.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

// Longest stretch of a recording that may sit in memory before it reaches the
// file, in the forms each muxer takes it.
constexpr const char* kClusterMilliseconds = "250";
constexpr const char* kFragmentMicroseconds = "250000";

// Matroska element ids (with their length marker bits) and the header bytes read
// to find the duration's place.
constexpr uint32_t kEbmlHeader = 0x1A45DFA3;
constexpr uint32_t kSegment = 0x18538067;
constexpr uint32_t kInfo = 0x1549A966;
constexpr uint32_t kVoid = 0xEC;
constexpr size_t kHeaderBytes = 4096;
// The muxer holds the duration's place with an 11-byte void element: exactly a
// Duration element (id 0x4489, size 8, a 64-bit float) fits in it.
constexpr size_t kDurationElementSize = 11;

bool EndsWith(std::u16string_view path, std::u16string_view extension) {
    if (path.size() < extension.size())
        return false;
    std::u16string_view tail = path.substr(path.size() - extension.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        const char16_t c = tail[i] >= u'A' && tail[i] <= u'Z' ? tail[i] + (u'a' - u'A') : tail[i];
        if (c != extension[i])
            return false;
    }
    return true;
}

// One element's head inside a byte range: its id, where its data starts and how
// long the data is.
struct Element {
    uint32_t id = 0;
    size_t dataStart = 0;
    uint64_t dataSize = 0;
};

// Variable-length numbers: the count of leading zero bits of the first byte gives
// the length. Ids keep their marker bits, sizes drop them.
bool ReadVarInt(const uint8_t* bytes, size_t available, size_t maxLength, bool keepMarker,
                uint64_t& value, size_t& length) {
    if (available == 0 || bytes[0] == 0)
        return false;
    length = size_t(std::countl_zero(bytes[0])) + 1;
    if (length > maxLength || length > available)
        return false;
    value = keepMarker ? bytes[0] : bytes[0] & (0xFF >> length);
    for (size_t i = 1; i < length; ++i)
        value = value << 8 | bytes[i];
    return true;
}

bool ReadElement(const std::array<uint8_t, kHeaderBytes>& head, size_t at, Element& element) {
    uint64_t id = 0, size = 0;
    size_t idLength = 0, sizeLength = 0;
    if (at >= head.size() || !ReadVarInt(&head[at], head.size() - at, 4, true, id, idLength) ||
        !ReadVarInt(&head[at + idLength], head.size() - at - idLength, 8, false, size, sizeLength))
        return false;
    element = {uint32_t(id), at + idLength + sizeLength, size};
    return true;
}

// The offset of the last 11-byte void inside the segment information; -1 when the
// header holds none.
int64_t FindDurationPlaceholder(const std::array<uint8_t, kHeaderBytes>& head) {
    Element element;
    if (!ReadElement(head, 0, element) || element.id != kEbmlHeader ||
        !ReadElement(head, element.dataStart + element.dataSize, element) || element.id != kSegment)
        return -1;
    size_t at = element.dataStart; // the segment's size may be unknown: walk its children
    while (ReadElement(head, at, element) && element.id != kInfo)
        at = element.dataStart + element.dataSize;
    if (element.id != kInfo)
        return -1;
    int64_t found = -1;
    const size_t infoEnd = element.dataStart + element.dataSize;
    for (at = element.dataStart; at < infoEnd && ReadElement(head, at, element);
         at = element.dataStart + element.dataSize) {
        if (element.id == kVoid &&
            element.dataStart + element.dataSize - at == kDurationElementSize)
            found = int64_t(at);
    }
    return found;
}

std::array<uint8_t, kDurationElementSize> DurationElement(double milliseconds) {
    std::array<uint8_t, kDurationElementSize> element{0x44, 0x89, 0x88};
    const auto bits = std::bit_cast<uint64_t>(milliseconds);
    for (int i = 0; i < 8; ++i)
        element[3 + i] = uint8_t(bits >> (56 - 8 * i));
    return element;
}

} // namespace

ContainerKind ContainerForFile(std::u16string_view path) {
    if (EndsWith(path, u".mp4"))
        return ContainerKind::Mp4;
    if (EndsWith(path, u".mkv"))
        return ContainerKind::Matroska;
    return ContainerKind::Avi;
}

bool ContainerHolds(ContainerKind kind, const EncoderEntry& entry) {
    const AVOutputFormat* format = av_guess_format(MuxerNameOf(kind), nullptr, nullptr);
    const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoderName);
    return format && codec && avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) == 1;
}

const char* MuxerNameOf(ContainerKind kind) {
    switch (kind) {
    case ContainerKind::Mp4:
        return "mp4";
    case ContainerKind::Matroska:
        return "matroska";
    default:
        return "avi";
    }
}

OutputContainer::OutputContainer(std::string path)
    : m_path(std::move(path)), m_kind(ContainerForFile(FromUtf8(m_path))) {}

bool OutputContainer::WriteHeader(AVFormatContext& muxer, AviFileOutput& file) {
    // Every packet goes to the file as soon as the muxer lets it go.
    muxer.flush_packets = 1;
    AVDictionary* options = nullptr;
    if (m_kind == ContainerKind::Matroska)
        av_dict_set(&options, "cluster_time_limit", kClusterMilliseconds, 0);
    if (m_kind == ContainerKind::Mp4) {
        av_dict_set(&options, "movflags", "+empty_moov+default_base_moof", 0);
        av_dict_set(&options, "frag_duration", kFragmentMicroseconds, 0);
    }
    const int result = avformat_write_header(&muxer, &options);
    ffmpeg::DictionaryPtr unused(options);
    if (result < 0)
        return false;
    avio_flush(muxer.pb);
    // Without its marker a recording is still written, only not repaired or
    // trimmed after a crash.
    m_marker.Create(m_path);
    if (m_kind == ContainerKind::Matroska)
        LocateDurationField(file);
    m_sizeOnDisk = file.Size();
    return true;
}

void OutputContainer::LocateDurationField(const AviFileOutput& file) {
    std::array<uint8_t, kHeaderBytes> head{};
    // A header shorter than the buffer leaves zeros behind it, where the walk stops.
    for (size_t size = head.size(); size > 0 && !file.ReadAt(0, head.data(), size); size /= 2) {
    }
    m_durationField = FindDurationPlaceholder(head);
}

// The muxer writes a cluster out when the packet after it comes in, so a file that
// has grown holds everything before the packet just written.
void OutputContainer::PacketWritten(AviFileOutput& file, double endMilliseconds) {
    if (m_durationField >= 0 && file.Size() != m_sizeOnDisk) {
        file.WriteAt(m_durationField, DurationElement(m_previousEnd).data(), kDurationElementSize);
        m_sizeOnDisk = file.Size();
    }
    m_previousEnd = endMilliseconds;
}

std::unique_ptr<Mp4Completion> OutputContainer::Complete() {
    if (m_kind == ContainerKind::Mp4)
        return std::make_unique<Mp4Completion>(m_path, std::move(m_marker));
    m_marker.Remove();
    return nullptr;
}
