#pragma once

#include "recorder/media/BitmapInfoHeader.h"
#include "recorder/media/RowBands.h"
#include "recorder/output/Mp4Completion.h"
#include "settings/AviCompressOptions.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

struct AVFrame;

// One recording as a file with a compressed video stream, and a sound track when
// asked for; frames are placed by their position on the time line. The file name picks the file
// type (AVI, or MP4 and Matroska by their extensions; see OutputContainer).
class CAviWriter {
public:
    CAviWriter();
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // format: the frame buffer's header with its colour table behind it.
    bool Open(const std::u16string& fileName, unsigned frameRate, const AviCompressOptions& options,
              const BitmapInfoHeader* format);
    // changedRows, where given, say where this frame may differ from the one
    // written before it (or offered: a frame left out makes the next one convert
    // everything); only there is it converted anew.
    void WriteFrame(int32_t position, const void* pixels, uint32_t size,
                    const RowBands* changedRows = nullptr);
    // The slot at this position shows the frame before it again: in AVI mostly an
    // empty chunk, which players take for a repeat, written a few slots later (or
    // after the frames the encoder holds back); in MP4 and Matroska nothing, the
    // picture before lasting on. A still screen shows its last picture again,
    // encoded anew, every 0.3 s (MP4 and Matroska: 0.4 s), in the recording's last
    // slots, and in every slot while an encoder that holds pictures back has held a
    // change for two such spacings.
    void WriteRepeat(int32_t position);
    // Completes the file: the index, and for MP4 the rewrite with the index in front.
    void Release();
    // As Release, but an MP4 file's rewrite is handed back, to run on any thread
    // (a long recording's takes a while); null for the other kinds.
    std::unique_ptr<Mp4Completion> ReleaseLeavingRewrite();

    // Whether the next Open adds a sound track (see SoundEncoder).
    void SetSoundTrack(bool withSound) { m_soundTrack = withSound; }
    // The height the next Open scales a taller picture down to, its aspect kept
    // (1080, 720); 0 keeps the picture's own size.
    void SetScaleHeight(int height) { m_scaleHeight = height; }
    // False also when the track was asked for but its encoder could not be set up.
    bool HasSoundTrack() const;
    // The sound of the time line from samples.pts on, in order, on the thread that
    // writes the frames.
    void WriteSound(const AVFrame& samples);

    // True from the creation of the file on, also after an Open that failed later
    // (the file then stays on disk until Release); frames go in only after a
    // successful Open.
    bool IsOpen() const;
    // The file's name as Open was given it, while open; empty otherwise.
    std::string FileName() const;

    // True once the disk filled (or a write failed): later frames are dropped and
    // Release completes the file up to the last whole frame. The two queries are
    // safe from any thread and keep their answer after Release, until the next Open.
    bool WriteFailed() const;
    // Frames in the file, empty slots aside.
    int64_t FramesStored() const;

private:
    void PublishProgress();

    struct State;
    std::unique_ptr<State> m_state;
    bool m_soundTrack = false;
    int m_scaleHeight = 0;
    std::atomic<bool> m_writeFailed{false};
    std::atomic<int64_t> m_framesStored{0};
};
