#include "recorder/output/AviWriter.h"

#include "recorder/output/AviFileOutput.h"
#include "recorder/output/EncoderTable.h"
#include "recorder/output/FrameConverter.h"
#include "recorder/output/LittleEndian.h"
#include "recorder/output/OutputContainer.h"
#include "recorder/output/SoundEncoder.h"
#include "settings/Utf16.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace {

// The stream header's quality field; the encoder's own quality comes from the
// compression options.
constexpr uint32_t kStreamQuality = 9000;
// Byte offsets of fields inside the stream header chunk's data.
constexpr int64_t kSuggestedBufferSizeField = 36;
constexpr int64_t kQualityField = 40;
// The AVI muxer pads a gap before a packet with empty chunks itself, but never
// before its first packet and refuses gaps longer than this.
constexpr int64_t kMuxerGapLimit = 60000;
// What the disk must hold beyond a chunk's data: each slot's chunk header and pad
// byte, its entries in the two indexes (16 and 8 bytes), and the closing headers.
constexpr int64_t kChunkOverheadBytes = 9;
constexpr int64_t kIndexBytesPerSlot = 24;
constexpr int64_t kClosingBytes = 64 * 1024;
// A still screen gets its last picture again every 0.3 s in AVI. Readers that skip
// an AVI file's empty chunks, as FFmpeg's do, see nothing else of it: a seek or a
// cut then finds a picture near any moment. VLC 3 passes an MPEG-4 picture on only
// once the next one (FFmpeg MPEG-4) or two (Xvid) have arrived, and at the start
// and after a seek it waits for a picture among what it read of the next second;
// at this spacing three pictures lie within 0.9 s from any moment. An unchanged
// picture needs no conversion, and costs Xvid about 4 ms at full HD, x264 about 12.
constexpr unsigned kAviStillPictureMilliseconds = 300;
// An MP4 or Matroska file holds only pictures, each lasting until the next, so
// players need no more of them (GStreamer shows the next one after a seek). Its
// still pictures serve a crash, which leaves the file at its last one, and x264,
// which lets a change out only with the pictures after it: the file's end stays
// within two of them (0.8 s) of a kill. A desk whose clock ticks each second gets
// two between the ticks instead of three.
constexpr unsigned kStillPictureMilliseconds = 400;
// A change an encoder holds back comes out with the still pictures after it, in
// well under a second for x264; only one held longer is pushed out.
constexpr int64_t kStillPicturesAChangeWaits = 2;
// Those readers would also end a recording at its last picture: the last slots
// show the last picture again. Three of them, as FFmpeg's tools, converting to a
// constant rate, hold the last picture for as many slots as lay between the last
// three pictures (their median).
constexpr int64_t kClosingPictures = 3;

std::array<uint8_t, 4> Le32(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

// Where the first stream header's data starts: the header lists "hdrl" and "strl"
// are entered, every other chunk is stepped over. -1 when not found.
int64_t FindStreamHeader(const AviFileOutput& file) {
    std::array<uint8_t, 1024> head{};
    if (!file.ReadAt(0, head.data(), head.size()))
        return -1;
    size_t offset = 12; // behind "RIFF", its size and "AVI "
    while (offset + 12 <= head.size()) {
        const uint8_t* chunk = head.data() + offset;
        if (std::memcmp(chunk, "strh", 4) == 0)
            return int64_t(offset + 8);
        bool headerList =
            std::memcmp(chunk, "LIST", 4) == 0 &&
            (std::memcmp(chunk + 8, "hdrl", 4) == 0 || std::memcmp(chunk + 8, "strl", 4) == 0);
        uint32_t size = ReadLe32(chunk + 4);
        offset += headerList ? 12 : 8 + size_t(size) + (size & 1);
    }
    return -1;
}

} // namespace

struct CAviWriter::State {
    explicit State(const std::string& path) : container(path) {}

    // Declared first, so that its marker outlives the file it names being open.
    OutputContainer container;
    // Closed after the muxer's final writes.
    AviFileOutput file;
    ffmpeg::FormatContextPtr muxer;
    AVStream* stream = nullptr;
    ffmpeg::CodecContextPtr encoder;
    FrameConverter converter;
    ffmpeg::PacketPtr packet{av_packet_alloc()};
    ffmpeg::PacketPtr emptyPacket{av_packet_alloc()};
    // The pictures handed to the encoder whose packets have not come out yet,
    // oldest first; a copy is the last picture encoded again for a still screen.
    struct Sent {
        int32_t position;
        bool copy;
    };
    std::deque<Sent> inEncoder;
    bool headerWritten = false;
    int64_t streamHeader = -1;
    uint32_t frameBytes = 0;
    int32_t lastPosition = -1;     // last position handed to the encoder
    int32_t lastRepeat = -1;       // last slot that repeats its frame
    int32_t stillPictureSlots = 1; // from one picture of a still screen to the next
    int64_t nextSlot = 0;          // the muxer's next sample
    bool outOfRoom = false;        // the disk filled: nothing more is written
    int64_t framesStored = 0;
    std::unique_ptr<SoundEncoder> sound; // none for a recording without sound
    int64_t soundPackets = 0;

    bool Failed() const { return outOfRoom || file.WriteFailed(); }

    bool CreateStream(unsigned frameRate);
    bool SetUpCompressor(const AviCompressOptions& options, const BitmapInfoHeader& format,
                         unsigned frameRate, int scaleHeight);
    bool WriteHeader(const BitmapInfoHeader& format);
    void Encode(int32_t position, const void* pixels, uint32_t size, const RowBands* changedRows);
    bool Send(AVFrame& picture, int32_t position, bool copy);
    bool HoldsAChangeFrom(int64_t slot) const;
    void PushOutChange(int32_t position);
    void EndWithPictures();
    void MuxPackets();
    int64_t SlotOfPacket(int64_t position);
    bool AddSoundTrack();
    void MuxSound(AVPacket& packet);
    void Repeat(int32_t position);
    void SettleRepeatsThrough(int64_t slot);
    void FillSlotsBefore(int64_t dts);
    bool WriteEmptySlot(int64_t slot);
    bool MakeRoomFor(int64_t slot, int64_t bytes);
    bool Reserve(int64_t bytes, int64_t chunks, int64_t indexEntries);
    void PatchStreamHeader(int64_t field, uint32_t value);
    std::unique_ptr<Mp4Completion> Finish();
};

bool CAviWriter::State::CreateStream(unsigned frameRate) {
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, container.MuxerName(), nullptr) < 0)
        return false;
    muxer.reset(context);
    muxer->pb = file.Io();
    stream = avformat_new_stream(muxer.get(), nullptr);
    if (!stream)
        return false;
    // One sample per frame: sample n lies at n / frameRate seconds.
    stream->time_base = AVRational{1, int(frameRate)};
    const unsigned spacing =
        container.IsAvi() ? kAviStillPictureMilliseconds : kStillPictureMilliseconds;
    stillPictureSlots = int32_t(std::max(1u, frameRate * spacing / 1000));
    return packet && emptyPacket;
}

bool CAviWriter::State::SetUpCompressor(const AviCompressOptions& options,
                                        const BitmapInfoHeader& format, unsigned frameRate,
                                        int scaleHeight) {
    // Only the handler picks anything: the catalogue always asks for the best
    // quality (95000), which the encoder table sets up per encoder.
    const EncoderEntry* entry = FindEncoderEntry(options.fccHandler);
    if (!entry || !ContainerHolds(container.Kind(), *entry) || format.biWidth <= 0 ||
        format.biHeight == 0 || format.biHeight == INT32_MIN)
        return false;
    const PictureSize size = ScaledSize(format.biWidth, std::abs(format.biHeight), scaleHeight);
    encoder =
        OpenEncoder(*entry, entry->EncodedWidth(size.width), entry->EncodedHeight(size.height),
                    frameRate, muxer->oformat->flags & AVFMT_GLOBALHEADER);
    if (!encoder || !converter.Setup(format, *encoder, size.height != std::abs(format.biHeight)))
        return false;
    if (avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0)
        return false;
    // Other containers name the codec in their own way.
    stream->codecpar->codec_tag = container.IsAvi() ? entry->fourcc : 0;
    return true;
}

bool CAviWriter::State::WriteHeader(const BitmapInfoHeader& format) {
    if (!container.WriteHeader(*muxer, file))
        return false;
    headerWritten = true;
    frameBytes = format.biSizeImage;
    if (container.IsAvi())
        streamHeader = FindStreamHeader(file);
    PatchStreamHeader(kQualityField, kStreamQuality);
    return true;
}

void CAviWriter::State::Encode(int32_t position, const void* pixels, uint32_t size,
                               const RowBands* changedRows) {
    // A slot is filled once: a late duplicate or a tick before the first slot is dropped.
    if (position < 0 || position <= lastPosition || Failed()) {
        converter.ForgetLastPicture();
        return;
    }
    SettleRepeatsThrough(int64_t(position) - 1);
    if (AVFrame* picture = converter.Convert(pixels, size, changedRows))
        Send(*picture, position, false);
}

bool CAviWriter::State::Send(AVFrame& picture, int32_t position, bool copy) {
    picture.pts = position;
    picture.quality = encoder->global_quality;
    if (avcodec_send_frame(encoder.get(), &picture) < 0)
        return false;
    lastPosition = position;
    inEncoder.push_back({position, copy});
    MuxPackets();
    return true;
}

// Whether the encoder still holds a change given at this slot or before it.
bool CAviWriter::State::HoldsAChangeFrom(int64_t slot) const {
    return std::ranges::any_of(
        inEncoder, [slot](const Sent& sent) { return !sent.copy && sent.position <= slot; });
}

// An encoder that holds pictures back (x264's look-ahead: two pictures) lets a
// picture out only once as many more have come; on a still screen x264's changes
// come out within two still pictures, and a crash meanwhile would lose them. A
// screen that goes on changing pushes its changes out itself; a change that has
// waited longer than two still pictures (an encoder that holds more) gets the last
// picture in every slot until it is out.
void CAviWriter::State::PushOutChange(int32_t position) {
    AVFrame* last = converter.LastPicture();
    if (last && position > lastPosition && !Failed() &&
        HoldsAChangeFrom(int64_t(position) - kStillPicturesAChangeWaits * stillPictureSlots))
        Send(*last, position, true);
}

void CAviWriter::State::EndWithPictures() {
    AVFrame* last = converter.LastPicture();
    if (!last)
        return;
    const int64_t first =
        std::max({lastRepeat - kClosingPictures + 1, int64_t(lastPosition) + 1, nextSlot});
    for (int64_t slot = first; slot <= lastRepeat && !Failed(); ++slot)
        Send(*last, int32_t(slot), true);
}

void CAviWriter::State::MuxPackets() {
    while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
        packet->stream_index = stream->index;
        // The encoder counts in frame slots; other containers than AVI count in
        // units of their own. A picture lasts at least its slot: the last one of
        // an MP4 or Matroska recording ends where the recording ends.
        const int64_t slot = SlotOfPacket(packet->pts);
        packet->pts = packet->dts = slot;
        packet->duration = 1;
        const double endMilliseconds =
            double(slot + 1) * 1000.0 * encoder->time_base.num / encoder->time_base.den;
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        // Other containers keep each frame's time themselves.
        if (container.IsAvi())
            FillSlotsBefore(slot);
        // Past the first frame that finds no room every later one is dropped, so
        // the file ends with whole frames and nothing depends on a missing one.
        if (MakeRoomFor(slot, packet->size) && av_write_frame(muxer.get(), packet.get()) >= 0) {
            nextSlot = slot + 1;
            ++framesStored;
            container.PacketWritten(file, endMilliseconds);
        }
        av_packet_unref(packet.get());
    }
}

// Where the packet of the picture given at this position goes on the time line
// (a picture the encoder dropped gives no packet). A copy shows what the screen
// showed all along since the change before it, so it may stand as late as the
// pictures the encoder still holds after it leave room for: the copies an encoder
// held back then keep up with the recording instead of leaving the file's end that
// many still pictures behind.
int64_t CAviWriter::State::SlotOfPacket(int64_t position) {
    while (!inEncoder.empty() && inEncoder.front().position < position)
        inEncoder.pop_front();
    if (inEncoder.empty() || inEncoder.front().position != position)
        return position;
    const bool copy = inEncoder.front().copy;
    inEncoder.pop_front();
    if (!copy)
        return position;
    int64_t latest = lastPosition;
    for (auto held = inEncoder.rbegin(); held != inEncoder.rend(); ++held)
        latest = (held->copy ? latest : std::min<int64_t>(latest, held->position)) - 1;
    return std::max(latest, position);
}

// The last few repeats wait for the next slots: should they end the recording,
// they get pictures (see EndWithPictures).
void CAviWriter::State::Repeat(int32_t position) {
    lastRepeat = std::max(lastRepeat, position);
    PushOutChange(position);
    SettleRepeatsThrough(int64_t(lastRepeat) - kClosingPictures);
}

// The repeats up to this slot show the last picture again where it has grown old.
// In AVI the others are empty chunks, written at once if every frame given is in
// the file, so that a recording cut off later still reaches them (CAviRepair keeps
// such repeats at the end); else they wait, as the muxer takes the slots in order
// only. MP4 and Matroska files hold nothing for them.
void CAviWriter::State::SettleRepeatsThrough(int64_t slot) {
    slot = std::min<int64_t>(slot, lastRepeat);
    if (slot <= lastPosition || Failed())
        return;
    AVFrame* last = converter.LastPicture();
    while (last && int64_t(lastPosition) + stillPictureSlots <= slot &&
           Send(*last, lastPosition + stillPictureSlots, true)) {
    }
    if (!container.IsAvi() || lastPosition >= nextSlot || slot < nextSlot)
        return;
    FillSlotsBefore(slot);
    WriteEmptySlot(slot);
}

// Empty chunks keep the time line where the muxer would not pad on its own.
void CAviWriter::State::FillSlotsBefore(int64_t dts) {
    if (nextSlot == 0 && dts > 0 && !WriteEmptySlot(0))
        return;
    while (dts - nextSlot > kMuxerGapLimit && WriteEmptySlot(nextSlot + kMuxerGapLimit)) {
    }
}

bool CAviWriter::State::WriteEmptySlot(int64_t slot) {
    emptyPacket->stream_index = stream->index;
    emptyPacket->pts = slot;
    emptyPacket->dts = slot;
    if (!MakeRoomFor(slot, 0) || av_write_frame(muxer.get(), emptyPacket.get()) < 0)
        return false;
    nextSlot = slot + 1;
    return true;
}

// Slots the muxer pads on its own cost a chunk header and index entries each.
bool CAviWriter::State::MakeRoomFor(int64_t slot, int64_t bytes) {
    const int64_t padded = std::max<int64_t>(slot - nextSlot, 0);
    return Reserve(bytes, padded + 1, slot + 1 + soundPackets);
}

bool CAviWriter::State::Reserve(int64_t bytes, int64_t chunks, int64_t indexEntries) {
    if (Failed())
        return false;
    const int64_t end = avio_tell(muxer->pb) + bytes + chunks * kChunkOverheadBytes +
                        indexEntries * kIndexBytesPerSlot + kClosingBytes;
    outOfRoom = !file.Reserve(end);
    return !outOfRoom;
}

// A sound track that cannot be set up leaves the recording without sound.
bool CAviWriter::State::AddSoundTrack() {
    sound = std::make_unique<SoundEncoder>();
    if (!sound->Open(*muxer, container.Kind()))
        sound.reset();
    return sound != nullptr;
}

// Sound chunks share the disk's room and the index with the picture's.
void CAviWriter::State::MuxSound(AVPacket& packet) {
    if (Reserve(packet.size, 1, nextSlot + soundPackets + 1) &&
        av_write_frame(muxer.get(), &packet) >= 0)
        ++soundPackets;
}

void CAviWriter::State::PatchStreamHeader(int64_t field, uint32_t value) {
    if (streamHeader >= 0)
        file.WriteAt(streamHeader + field, Le32(value).data(), 4);
}

std::unique_ptr<Mp4Completion> CAviWriter::State::Finish() {
    if (!headerWritten)
        return nullptr;
    EndWithPictures();
    if (avcodec_send_frame(encoder.get(), nullptr) == 0)
        MuxPackets();
    if (sound)
        sound->Finish([this](AVPacket& packet) { MuxSound(packet); });
    // Repeats between frames are the muxer's padding; those after the last frame
    // (with no picture to end on) would otherwise be lost, and the recording would
    // end early.
    if (container.IsAvi() && lastRepeat >= nextSlot) {
        FillSlotsBefore(lastRepeat);
        WriteEmptySlot(lastRepeat);
    }
    av_write_trailer(muxer.get());
    // The muxer leaves its largest chunk here; a reader sized for a whole
    // uncompressed frame never needs more.
    std::array<uint8_t, 4> largestChunk{};
    if (streamHeader >= 0 &&
        file.ReadAt(streamHeader + kSuggestedBufferSizeField, largestChunk.data(), 4))
        PatchStreamHeader(kSuggestedBufferSizeField,
                          std::max(frameBytes, ReadLe32(largestChunk.data())));
    muxer.reset();
    file.Close();
    return container.Complete();
}

CAviWriter::CAviWriter() = default;

CAviWriter::~CAviWriter() {
    Release();
}

bool CAviWriter::Open(const std::u16string& fileName, unsigned frameRate,
                      const AviCompressOptions& options, const BitmapInfoHeader* format) {
    Release();
    m_writeFailed = false;
    m_framesStored = 0;
    if (fileName.empty() || frameRate == 0 || !format)
        return false;
    const std::string path = ToUtf8(fileName);
    auto state = std::make_unique<State>(path);
    if (!state->file.Create(path))
        return false;
    // From here on a failure leaves the file held until Release.
    m_state = std::move(state);
    if (!m_state->CreateStream(frameRate) ||
        !m_state->SetUpCompressor(options, *format, frameRate, m_scaleHeight))
        return false;
    if (m_soundTrack)
        m_state->AddSoundTrack();
    return m_state->WriteHeader(*format);
}

void CAviWriter::WriteSound(const AVFrame& samples) {
    if (!m_state || !m_state->headerWritten || !m_state->sound)
        return;
    m_state->sound->Write(samples, [this](AVPacket& packet) { m_state->MuxSound(packet); });
    PublishProgress();
}

bool CAviWriter::HasSoundTrack() const {
    return m_state && m_state->sound;
}

void CAviWriter::WriteFrame(int32_t position, const void* pixels, uint32_t size,
                            const RowBands* changedRows) {
    if (!m_state || !m_state->headerWritten)
        return;
    m_state->Encode(position, pixels, size, changedRows);
    PublishProgress();
}

void CAviWriter::PublishProgress() {
    m_writeFailed = m_state->Failed();
    m_framesStored = m_state->framesStored;
}

void CAviWriter::WriteRepeat(int32_t position) {
    if (!m_state || !m_state->headerWritten)
        return;
    m_state->Repeat(position);
    PublishProgress();
}

void CAviWriter::Release() {
    if (std::unique_ptr<Mp4Completion> rewrite = ReleaseLeavingRewrite())
        rewrite->Run();
}

std::unique_ptr<Mp4Completion> CAviWriter::ReleaseLeavingRewrite() {
    if (!m_state)
        return nullptr;
    std::unique_ptr<Mp4Completion> rewrite = m_state->Finish();
    PublishProgress();
    m_state.reset();
    return rewrite;
}

bool CAviWriter::IsOpen() const {
    return m_state != nullptr;
}

std::string CAviWriter::FileName() const {
    return m_state ? m_state->container.Path() : std::string();
}

bool CAviWriter::WriteFailed() const {
    return m_writeFailed;
}

int64_t CAviWriter::FramesStored() const {
    return m_framesStored;
}
