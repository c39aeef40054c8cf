#pragma once

#include "recorder/media/RowBands.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_registry;
struct pw_buffer;
struct spa_buffer;

// The pointer as the compositor reports it beside the frames: its picture
// (premultiplied 0xAARRGGBB), hot spot and position in stream pixels.
struct StreamCursor {
    bool visible = false;
    int x = 0;
    int y = 0;
    int hotSpotX = 0;
    int hotSpotY = 0;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint64_t changes = 0; // counts the moves and new shapes
};

// The newest frame of a stream, handed to the reader while it holds the lock.
struct StreamPicture {
    const uint8_t* pixels = nullptr; // top row first
    int width = 0;
    int height = 0;
    int stride = 0;
    bool redFirst = false; // RGBx / RGBA instead of BGRx / BGRA
    // Where the pictures changed since the last read or TakeDamage, top row first.
    RowBands damage;
};

// Receives a screen-cast video stream from a PipeWire remote on PipeWire's own
// thread. The newest shared-memory buffer is kept (older ones go straight back
// to the producer), so a reader always takes the latest picture from the
// producer's own memory, and a screen that stops changing keeps its last one.
// Where the producer says which parts of each picture changed (damage metadata),
// those parts are gathered for the reader; a picture without that counts as
// changed all over.
class PipeWireStream {
public:
    PipeWireStream();
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Takes the remote's descriptor (closed on every path) and connects to node.
    bool Open(int remoteFd, uint32_t node);
    void Close();

    // Waits until the picture size is agreed; false when the stream ended or
    // the time ran out.
    bool WaitForFormat(int milliseconds);
    // Waits for a first picture; false when none came in time.
    bool WaitForPicture(int milliseconds);

    int width() const;
    int height() const;
    // Revoked, disconnected or failed: no more frames will come.
    bool ended() const;
    // A picture is held: one has come, and the stream is not between two sizes.
    bool hasPicture() const;

    // Calls read with the newest picture (pixels nullptr before the first), and
    // the cursor, under the stream's lock; the picture's damage is handed over.
    template <typename Reader> void Read(Reader&& read) {
        std::lock_guard lock(m_mutex);
        read(TakePicture(), m_cursor);
    }
    // Calls read with the cursor, under the stream's lock.
    template <typename Reader> void ReadCursor(Reader&& read) const {
        std::lock_guard lock(m_mutex);
        read(m_cursor);
    }
    // Hands over where the pictures changed since the last read or call.
    RowBands TakeDamage();
    uint64_t cursorChanges() const;

private:
    struct Callbacks;
    struct LoopDeleter {
        void operator()(pw_thread_loop* loop) const;
    };
    struct ContextDeleter {
        void operator()(pw_context* context) const;
    };
    struct CoreDeleter {
        void operator()(pw_core* core) const;
    };
    struct RegistryDeleter {
        void operator()(pw_registry* registry) const;
    };
    struct StreamDeleter {
        void operator()(pw_stream* stream) const;
    };

    StreamPicture TakePicture();
    void OnFormat(int width, int height, bool redFirst);
    void OnProcess();
    void OnEnded();
    void OnBufferRemoved(pw_buffer* buffer);
    void ReturnHeldBuffer();
    void UpdateCursor(const spa_buffer& buffer);
    template <typename Done> bool WaitUntil(int milliseconds, Done&& done);

    std::unique_ptr<pw_thread_loop, LoopDeleter> m_loop;
    std::unique_ptr<pw_context, ContextDeleter> m_context;
    std::unique_ptr<pw_core, CoreDeleter> m_core;
    std::unique_ptr<pw_registry, RegistryDeleter> m_registry;
    std::unique_ptr<pw_stream, StreamDeleter> m_stream;
    std::unique_ptr<Callbacks> m_callbacks;
    uint32_t m_node = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    pw_buffer* m_held = nullptr; // the newest picture, kept back from the producer
    int m_width = 0;
    int m_height = 0;
    bool m_redFirst = false;
    bool m_formatKnown = false;
    bool m_ended = false;
    RowBands m_damage; // in the stream's pixels, since the last hand-over
    bool m_damageNamed = false; // the producer has filled its damage list in once
    StreamCursor m_cursor;
};
