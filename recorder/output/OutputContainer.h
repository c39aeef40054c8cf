#pragma once

#include "recorder/media/FfmpegPtr.h"
#include "recorder/output/Mp4Completion.h"
#include "recorder/output/RecordingMarker.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class AviFileOutput;
struct EncoderEntry;

// The file type of a recording follows its name: ".mp4" and ".mkv" (in any case)
// give MP4 and Matroska, every other name AVI.
enum class ContainerKind { Avi, Mp4, Matroska };

ContainerKind ContainerForFile(std::u16string_view path);
// libavformat's name for the kind's muxer.
const char* MuxerNameOf(ContainerKind kind);
// Whether libavformat's muxer for the kind can store what the encoder makes.
bool ContainerHolds(ContainerKind kind, const EncoderEntry& entry);

// How the file type shapes one recording's writing: its muxer and the muxer's
// options, what keeps a cut-off file playable up to about its last second, and
// what completes the file. A marker names every kind's file until it is complete,
// so that the next start can find it when it is cut off (see CAviRepair).
//   AVI: every packet is flushed.
//   Matroska: clusters of at most 0.25 s, flushed as they close, and the
//   duration in the header kept at what the file holds.
//   MP4: fragments of at most 0.25 s while recording; the completed file is
//   rewritten as an ordinary MP4 with its index in front.
class OutputContainer {
public:
    explicit OutputContainer(std::string path);

    const std::string& Path() const { return m_path; }
    bool IsAvi() const { return m_kind == ContainerKind::Avi; }
    ContainerKind Kind() const { return m_kind; }
    const char* MuxerName() const { return MuxerNameOf(m_kind); }

    // Writes the file's header through the muxer, whose output is file.
    bool WriteHeader(AVFormatContext& muxer, AviFileOutput& file);
    // After each packet: endMilliseconds is where the recording now ends.
    void PacketWritten(AviFileOutput& file, double endMilliseconds);
    // Once the trailer is written and the file closed: an MP4 file's rewrite, to
    // be run (see Mp4Completion); nothing is left to do for the other kinds.
    std::unique_ptr<Mp4Completion> Complete();

private:
    void LocateDurationField(const AviFileOutput& file);

    std::string m_path;
    ContainerKind m_kind;
    RecordingMarker m_marker;
    int64_t m_durationField = -1; // the Matroska header's place for the duration
    int64_t m_sizeOnDisk = 0;
    double m_previousEnd = 0; // where the recording ended before the last packet
};
