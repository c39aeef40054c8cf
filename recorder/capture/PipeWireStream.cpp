#include "recorder/capture/PipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kLargestCursor = 256;
// More rectangles than this are given as one around the rest.
constexpr int kDamageRegions = 16;
// One held, one being filled, and room for the producer to run ahead.
constexpr int kBuffers = 4;
constexpr int kFewestBuffers = 3;
constexpr int kMostBuffers = 16;

constexpr size_t CursorMetaSize(int width, int height) {
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + size_t(width) * size_t(height) * 4;
}

constexpr int DamageMetaSize(int regions) {
    return int(sizeof(spa_meta_region)) * regions;
}

void InitialisePipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

bool RedFirst(uint32_t format) {
    return format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}

// Shared-memory formats only: a pixman compositor has no DMA-BUF to give, and a
// GPU's buffer would have to be mapped with its modifiers known.
const spa_pod* VideoFormats(spa_pod_builder& builder) {
    spa_rectangle defaultSize{1920, 1080}, smallest{1, 1}, largest{16384, 16384};
    spa_fraction defaultRate{30, 1}, slowest{0, 1}, fastest{1000, 1};
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &slowest, &fastest)));
}

// Premultiplies one straight-alpha cursor pixel given in the bitmap's byte order.
uint32_t CursorPixel(const uint8_t* p, uint32_t format) {
    uint32_t red = p[0], green = p[1], blue = p[2], alpha = p[3];
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRA:
        std::swap(red, blue);
        break;
    case SPA_VIDEO_FORMAT_ARGB:
        alpha = p[0], red = p[1], green = p[2], blue = p[3];
        break;
    case SPA_VIDEO_FORMAT_ABGR:
        alpha = p[0], blue = p[1], green = p[2], red = p[3];
        break;
    default:
        break;
    }
    const auto premultiply = [alpha](uint32_t c) { return (c * alpha + 127) / 255; };
    return alpha << 24 | premultiply(red) << 16 | premultiply(green) << 8 | premultiply(blue);
}

// The record's pointer picture, premultiplied, into the cursor; false when the
// record has none (the shape stays) or the same one.
bool ReadCursorPicture(const spa_meta_cursor& meta, StreamCursor& cursor) {
    if (meta.bitmap_offset < sizeof(spa_meta_cursor))
        return false;
    const auto* bitmap = SPA_PTROFF(&meta, meta.bitmap_offset, const spa_meta_bitmap);
    const int width = static_cast<int>(bitmap->size.width);
    const int height = static_cast<int>(bitmap->size.height);
    if (bitmap->format == SPA_VIDEO_FORMAT_UNKNOWN || width <= 0 || height <= 0 ||
        width > kLargestCursor || height > kLargestCursor)
        return false;
    const auto* rows = SPA_PTROFF(bitmap, bitmap->offset, const uint8_t);
    // Most buffers carry the shape they carried before: it is compared as it is
    // written over the kept one, which costs no copy.
    bool changed = width != cursor.width || height != cursor.height;
    cursor.width = width;
    cursor.height = height;
    cursor.pixels.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = CursorPixel(rows + y * bitmap->stride + x * 4, bitmap->format);
            uint32_t& kept = cursor.pixels[size_t(y) * width + x];
            changed = changed || kept != pixel;
            kept = pixel;
        }
    return changed;
}

bool HasPicture(const spa_buffer& buffer) {
    const spa_data& data = buffer.datas[0];
    return data.data && data.chunk->size > 0 && (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) == 0;
}

int64_t End(int32_t start, uint32_t length) {
    return std::min<int64_t>(int64_t(start) + length, INT_MAX);
}

// Where a buffer's picture differs from the one sent before it, added to damage:
// all of it when the producer does not say. The list ends at its first empty
// rectangle, so a picture that changed nowhere has an empty one first. Whether
// the list named a changed rectangle.
bool AddDamage(const spa_buffer& buffer, int height, RowBands& damage) {
    const spa_meta* meta = spa_buffer_find_meta(&buffer, SPA_META_VideoDamage);
    if (!meta) {
        damage = RowBands::Whole(height);
        return false;
    }
    bool named = false;
    const auto* region = static_cast<const spa_meta_region*>(spa_meta_first(meta));
    for (; spa_meta_check(region, meta) && spa_meta_region_is_valid(region); ++region) {
        const spa_region& area = region->region;
        damage.Add({area.position.y, int(End(area.position.y, area.size.height)), area.position.x,
                    int(End(area.position.x, area.size.width))},
                   height);
        named = true;
    }
    return named;
}

} // namespace

struct PipeWireStream::Callbacks {
    static void StateChanged(void* self, pw_stream_state, pw_stream_state state, const char*) {
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            static_cast<PipeWireStream*>(self)->OnEnded();
    }

    static void ParamChanged(void* self, uint32_t id, const spa_pod* param) {
        spa_video_info_raw raw{};
        if (id != SPA_PARAM_Format || !param || spa_format_video_raw_parse(param, &raw) < 0)
            return;
        auto* stream = static_cast<PipeWireStream*>(self);
        stream->OnFormat(static_cast<int>(raw.size.width), static_cast<int>(raw.size.height),
                         RedFirst(raw.format));
    }

    static void RemoveBuffer(void* self, pw_buffer* buffer) {
        static_cast<PipeWireStream*>(self)->OnBufferRemoved(buffer);
    }

    static void Process(void* self) { static_cast<PipeWireStream*>(self)->OnProcess(); }

    static void CoreError(void* self, uint32_t id, int, int, const char*) {
        if (id == PW_ID_CORE)
            static_cast<PipeWireStream*>(self)->OnEnded();
    }

    // The producer going away takes its node with it, while the stream itself
    // only pauses.
    static void GlobalRemoved(void* self, uint32_t id) {
        auto* stream = static_cast<PipeWireStream*>(self);
        if (id == stream->m_node)
            stream->OnEnded();
    }

    pw_stream_events streamEvents{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    spa_hook streamListener{};
    spa_hook coreListener{};
    spa_hook registryListener{};

    Callbacks() {
        streamEvents.version = PW_VERSION_STREAM_EVENTS;
        streamEvents.state_changed = StateChanged;
        streamEvents.param_changed = ParamChanged;
        streamEvents.remove_buffer = RemoveBuffer;
        streamEvents.process = Process;
        coreEvents.version = PW_VERSION_CORE_EVENTS;
        coreEvents.error = CoreError;
        registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        registryEvents.global_remove = GlobalRemoved;
    }
};

void PipeWireStream::LoopDeleter::operator()(pw_thread_loop* loop) const {
    pw_thread_loop_destroy(loop);
}

void PipeWireStream::ContextDeleter::operator()(pw_context* context) const {
    pw_context_destroy(context);
}

void PipeWireStream::CoreDeleter::operator()(pw_core* core) const {
    pw_core_disconnect(core);
}

void PipeWireStream::RegistryDeleter::operator()(pw_registry* registry) const {
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
}

void PipeWireStream::StreamDeleter::operator()(pw_stream* stream) const {
    pw_stream_destroy(stream);
}

PipeWireStream::PipeWireStream() = default;

PipeWireStream::~PipeWireStream() {
    Close();
}

bool PipeWireStream::Open(int remoteFd, uint32_t node) {
    Close();
    InitialisePipeWire();
    m_node = node;
    m_callbacks = std::make_unique<Callbacks>();
    m_loop.reset(pw_thread_loop_new("tesmara-capture", nullptr));
    if (m_loop)
        m_context.reset(pw_context_new(pw_thread_loop_get_loop(m_loop.get()), nullptr, 0));
    if (!m_context || pw_thread_loop_start(m_loop.get()) < 0) {
        close(remoteFd);
        Close();
        return false;
    }
    pw_thread_loop_lock(m_loop.get());
    m_core.reset(pw_context_connect_fd(m_context.get(), remoteFd, nullptr, 0));
    if (m_core) {
        pw_core_add_listener(m_core.get(), &m_callbacks->coreListener, &m_callbacks->coreEvents,
                             this);
        m_registry.reset(pw_core_get_registry(m_core.get(), PW_VERSION_REGISTRY, 0));
    }
    if (m_registry) {
        pw_registry_add_listener(m_registry.get(), &m_callbacks->registryListener,
                                 &m_callbacks->registryEvents, this);
        m_stream.reset(
            pw_stream_new(m_core.get(), "Tesmara Screen Recorder",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
    }
    bool connected = false;
    if (m_stream) {
        pw_stream_add_listener(m_stream.get(), &m_callbacks->streamListener,
                               &m_callbacks->streamEvents, this);
        uint8_t space[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
        const spa_pod* formats[] = {VideoFormats(builder)};
        connected = pw_stream_connect(m_stream.get(), PW_DIRECTION_INPUT, node,
                                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                   PW_STREAM_FLAG_MAP_BUFFERS),
                                      formats, 1) == 0;
    }
    pw_thread_loop_unlock(m_loop.get());
    if (!connected)
        Close();
    return connected;
}

// The stream and the core go under the loop's lock, before the loop stops.
void PipeWireStream::Close() {
    if (m_loop) {
        pw_thread_loop_lock(m_loop.get());
        ReturnHeldBuffer();
        m_stream.reset();
        m_registry.reset();
        m_core.reset();
        pw_thread_loop_unlock(m_loop.get());
        pw_thread_loop_stop(m_loop.get());
    }
    m_context.reset();
    m_loop.reset();
    m_callbacks.reset();
    std::lock_guard lock(m_mutex);
    m_held = nullptr;
    m_width = m_height = 0;
    m_formatKnown = m_ended = false;
    m_damage.Clear();
    m_cursor = StreamCursor{};
}

template <typename Done> bool PipeWireStream::WaitUntil(int milliseconds, Done&& done) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                       [&] { return done() || m_ended; });
    return done() && !m_ended;
}

bool PipeWireStream::WaitForFormat(int milliseconds) {
    return WaitUntil(milliseconds, [this] { return m_formatKnown; });
}

bool PipeWireStream::WaitForPicture(int milliseconds) {
    return WaitUntil(milliseconds, [this] { return m_held != nullptr; });
}

int PipeWireStream::width() const {
    std::lock_guard lock(m_mutex);
    return m_width;
}

int PipeWireStream::height() const {
    std::lock_guard lock(m_mutex);
    return m_height;
}

bool PipeWireStream::ended() const {
    std::lock_guard lock(m_mutex);
    return m_ended;
}

bool PipeWireStream::hasPicture() const {
    std::lock_guard lock(m_mutex);
    return m_held != nullptr;
}

RowBands PipeWireStream::TakeDamage() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_damage, RowBands{});
}

uint64_t PipeWireStream::cursorChanges() const {
    std::lock_guard lock(m_mutex);
    return m_cursor.changes;
}

StreamPicture PipeWireStream::TakePicture() {
    StreamPicture picture{.damage = std::exchange(m_damage, RowBands{})};
    if (!m_held)
        return picture;
    const spa_data& data = m_held->buffer->datas[0];
    picture.pixels = static_cast<const uint8_t*>(data.data) + data.chunk->offset % data.maxsize;
    picture.width = m_width;
    picture.height = m_height;
    picture.stride = data.chunk->stride > 0 ? data.chunk->stride : m_width * 4;
    picture.redFirst = m_redFirst;
    return picture;
}

// Runs on PipeWire's thread. Once the size is known, the producer is asked for
// shared-memory buffers, for the cursor beside the frames and for where each
// frame changed; the first picture of a size counts as new all over. The newest picture
// is held until the next one comes, so the producer needs buffers beyond it: with
// two, a wlroots portal that finds none free stops sending until the screen
// changes again, and a recording can keep a stale picture for good.
void PipeWireStream::OnFormat(int width, int height, bool redFirst) {
    {
        std::lock_guard lock(m_mutex);
        m_width = width;
        m_height = height;
        m_redFirst = redFirst;
        m_formatKnown = true;
        m_damage = RowBands::Whole(height);
    }
    m_changed.notify_all();
    uint8_t space[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[] = {
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(kBuffers, kFewestBuffers, kMostBuffers),
            SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd)))),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(64, 64), CursorMetaSize(1, 1),
                                     CursorMetaSize(kLargestCursor, kLargestCursor)))),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(DamageMetaSize(kDamageRegions), DamageMetaSize(1),
                                     DamageMetaSize(kDamageRegions)))),
    };
    pw_stream_update_params(m_stream.get(), params, 3);
}

// Runs on PipeWire's thread: keeps only the newest buffer with a picture in it,
// and gathers what changed in every picture and cursor record that came.
void PipeWireStream::OnProcess() {
    pw_buffer* newest = nullptr;
    std::unique_lock lock(m_mutex);
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(m_stream.get())) {
        UpdateCursor(*buffer->buffer);
        if (!HasPicture(*buffer->buffer)) {
            pw_stream_queue_buffer(m_stream.get(), buffer);
            continue;
        }
        // A producer that offers the damage list but never fills it in would leave
        // every picture unchanged: until it names a changed rectangle once, each
        // picture counts as changed all over.
        if (AddDamage(*buffer->buffer, m_height, m_damage))
            m_damageNamed = true;
        else if (!m_damageNamed)
            m_damage = RowBands::Whole(m_height);
        if (newest)
            pw_stream_queue_buffer(m_stream.get(), newest);
        newest = buffer;
    }
    if (!newest)
        return;
    std::swap(m_held, newest);
    lock.unlock();
    m_changed.notify_all();
    if (newest)
        pw_stream_queue_buffer(m_stream.get(), newest);
}

// A cursor record without a picture keeps the picture it had before.
void PipeWireStream::UpdateCursor(const spa_buffer& buffer) {
    auto* meta = static_cast<spa_meta_cursor*>(
        spa_buffer_find_meta_data(&buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (!meta)
        return;
    StreamCursor& cursor = m_cursor;
    const bool visible = spa_meta_cursor_is_valid(meta);
    const bool moved =
        visible != cursor.visible ||
        (visible && (meta->position.x != cursor.x || meta->position.y != cursor.y ||
                     meta->hotspot.x != cursor.hotSpotX || meta->hotspot.y != cursor.hotSpotY));
    cursor.visible = visible;
    if (visible) {
        cursor.x = meta->position.x;
        cursor.y = meta->position.y;
        cursor.hotSpotX = meta->hotspot.x;
        cursor.hotSpotY = meta->hotspot.y;
    }
    const bool reshaped = visible && ReadCursorPicture(*meta, cursor);
    if (moved || reshaped)
        ++cursor.changes;
}

// A producer that serves one consumer after another from the same stream gets the
// held buffer back; without it, each ended recording would keep one of its few.
void PipeWireStream::ReturnHeldBuffer() {
    std::lock_guard lock(m_mutex);
    if (m_held && m_stream)
        pw_stream_queue_buffer(m_stream.get(), std::exchange(m_held, nullptr));
}

void PipeWireStream::OnEnded() {
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

void PipeWireStream::OnBufferRemoved(pw_buffer* buffer) {
    std::lock_guard lock(m_mutex);
    if (buffer == m_held)
        m_held = nullptr;
}
