// A desktop's ScreenCast portal backend for the tests, such as GNOME's and KDE's
// offer and the wlroots one does not: the pointer goes beside the picture as
// cursor metadata instead of being drawn in, and a single window can be shared.
// It shares one made-up screen, a picture of kScreen in kScreenColour with a square
// at kSquare that changes its colour every kFramesPerSquareColour frames, or one
// made-up window of kWindow in kWindowColour that grows to kGrownWindow after
// kFramesBeforeGrowing frames; each is sent 30 times a second, with a 16 x 16 white
// pointer whose hot spot is at kPointer, and with where it changed since the frame
// before (damage metadata), as GNOME's and wlroots' portals send it. Served on the
// session bus under the name cursor-cast.portal gives; the real xdg-desktop-portal
// front end talks to it.
// Arguments are ignored, so it starts as the wlroots backend does.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QHash>
#include <QObject>
#include <QVariantMap>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>

#include <QSize>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr spa_rectangle kScreen{640, 360};
constexpr uint32_t kScreenColour = 0x206060; // 0xRRGGBB
constexpr spa_region kSquare{{560, 296}, {48, 40}};
constexpr uint32_t kSquareColours[] = {0xf0d000, 0x6020a0};
constexpr int kFramesPerSquareColour = 15;
constexpr spa_rectangle kWindow{320, 240};
constexpr spa_rectangle kGrownWindow{480, 240};
constexpr uint32_t kWindowColour = 0xc08020;
constexpr int kFramesBeforeGrowing = 45;
constexpr int kPointerX = 200;
constexpr int kPointerY = 120;
constexpr int kCursorSize = 16;
constexpr int kFramesPerSecond = 30;
constexpr uint kMonitor = 1;
constexpr uint kWindowSource = 2;
constexpr uint kCursorHidden = 1;
constexpr uint kCursorMetadata = 4;

constexpr int kDamageRegions = 4;

constexpr size_t CursorMetaSize() {
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kCursorSize * kCursorSize * 4;
}

struct CastStream {
    uint node = 0;
    QVariantMap properties;
};
using CastStreamList = QList<CastStream>;

QDBusArgument& operator<<(QDBusArgument& argument, const CastStream& stream) {
    argument.beginStructure();
    argument << stream.node << stream.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, CastStream& stream) {
    argument.beginStructure();
    argument >> stream.node >> stream.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(CastStream)

namespace {

// A made-up screen or window as a PipeWire video source that drives its own
// clock: a picture of one colour, which may have a square that changes colour or
// may grow once.
class CastSource {
public:
    enum class Square { None, Changing };

    CastSource(spa_rectangle size, uint32_t colour, Square square, spa_rectangle grown = {})
        : m_offered(size), m_grown(grown), m_colour(colour), m_square(square) {}

    // The loop stops before what runs on it goes.
    ~CastSource() {
        if (m_loop)
            pw_thread_loop_stop(m_loop.get());
    }

    bool Start() {
        m_loop.reset(pw_thread_loop_new("cast-source", nullptr));
        m_context.reset(pw_context_new(pw_thread_loop_get_loop(m_loop.get()), nullptr, 0));
        m_core.reset(pw_context_connect(m_context.get(), nullptr, 0));
        if (!m_core)
            return false;
        m_stream.reset(pw_stream_new(m_core.get(), "tesmara-cursor-cast",
                                     pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source",
                                                       PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
        m_events.version = PW_VERSION_STREAM_EVENTS;
        m_events.state_changed = &CastSource::StateChanged;
        m_events.param_changed = &CastSource::ParamChanged;
        pw_stream_add_listener(m_stream.get(), &m_listener, &m_events, this);
        m_timer = pw_loop_add_timer(pw_thread_loop_get_loop(m_loop.get()), &CastSource::Tick, this);

        uint8_t space[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
        const spa_pod* format = Format(builder, m_offered);
        pw_stream_connect(
            m_stream.get(), PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
            &format, 1);
        return pw_thread_loop_start(m_loop.get()) == 0;
    }

    // SPA_ID_INVALID until PipeWire has made the node.
    uint32_t Node() {
        pw_thread_loop_lock(m_loop.get());
        const uint32_t node = pw_stream_get_node_id(m_stream.get());
        pw_thread_loop_unlock(m_loop.get());
        return node;
    }

private:
    static const spa_pod* Format(spa_pod_builder& builder, spa_rectangle size) {
        spa_fraction rate{kFramesPerSecond, 1};
        return static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    }

    // A new consumer's first frame changed all over.
    static void StateChanged(void* self, pw_stream_state, pw_stream_state state, const char*) {
        auto* source = static_cast<CastSource*>(self);
        timespec first{0, 1}, interval{0, 1000000000L / kFramesPerSecond};
        const bool streaming = state == PW_STREAM_STATE_STREAMING;
        source->m_sentWhole = false;
        pw_loop_update_timer(pw_thread_loop_get_loop(source->m_loop.get()), source->m_timer,
                             streaming ? &first : nullptr, streaming ? &interval : nullptr, false);
    }

    // The size agreed on, and the buffers that hold it.
    static void ParamChanged(void* self, uint32_t id, const spa_pod* param) {
        spa_video_info_raw raw{};
        if (!param || id != SPA_PARAM_Format || spa_format_video_raw_parse(param, &raw) < 0)
            return;
        auto* source = static_cast<CastSource*>(self);
        source->m_size = raw.size;
        source->m_sentWhole = false;
        const int stride = int(raw.size.width) * 4;
        uint8_t space[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
        const spa_pod* params[] = {
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
                SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 16),
                SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
                SPA_POD_Int(stride * int(raw.size.height)), SPA_PARAM_BUFFERS_stride,
                SPA_POD_Int(stride))),
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size, SPA_POD_Int(CursorMetaSize()))),
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
                SPA_POD_Int(int(sizeof(spa_meta_region)) * kDamageRegions))),
        };
        pw_stream_update_params(source->m_stream.get(), params, 3);
    }

    // A source that grows offers only its new size once it has sent its frames
    // at the first one, and the stream agrees on that size anew.
    void Grow() {
        uint8_t space[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
        const spa_pod* format = Format(builder, m_grown);
        pw_stream_update_params(m_stream.get(), &format, 1);
    }

    static void Tick(void* self, uint64_t) {
        auto* source = static_cast<CastSource*>(self);
        if (source->m_grown.width > 0 && source->m_framesSent == kFramesBeforeGrowing)
            source->Grow();
        const uint32_t squareColour =
            kSquareColours[source->m_framesSent++ / kFramesPerSquareColour % 2];
        pw_buffer* buffer = pw_stream_dequeue_buffer(source->m_stream.get());
        if (!buffer)
            return;
        spa_data& data = buffer->buffer->datas[0];
        const spa_rectangle size = source->m_size;
        const uint32_t bytes = size.width * size.height * 4;
        if (auto* pixels = static_cast<uint32_t*>(data.data); pixels && data.maxsize >= bytes) {
            source->Draw(pixels, squareColour);
            data.chunk->offset = 0;
            data.chunk->size = bytes;
            data.chunk->stride = int32_t(size.width * 4);
            source->DescribeDamage(*buffer->buffer, squareColour);
        }
        if (auto* cursor = static_cast<spa_meta_cursor*>(spa_buffer_find_meta_data(
                buffer->buffer, SPA_META_Cursor, sizeof(spa_meta_cursor))))
            DescribeCursor(*cursor);
        pw_stream_queue_buffer(source->m_stream.get(), buffer);
    }

    // Each buffer gets the whole picture: it held an older one.
    void Draw(uint32_t* pixels, uint32_t squareColour) const {
        std::fill(pixels, pixels + m_size.width * m_size.height, m_colour);
        if (m_square == Square::None)
            return;
        for (uint32_t y = 0; y < kSquare.size.height; ++y) {
            uint32_t* row = pixels + (kSquare.position.y + y) * m_size.width + kSquare.position.x;
            std::fill(row, row + kSquare.size.width, squareColour);
        }
    }

    // All of the first frame of a size or of a consumer, then the square when it
    // changed its colour; an empty rectangle ends the list.
    void DescribeDamage(spa_buffer& buffer, uint32_t squareColour) {
        spa_meta* damage = spa_buffer_find_meta(&buffer, SPA_META_VideoDamage);
        if (!damage)
            return;
        auto* region = static_cast<spa_meta_region*>(spa_meta_first(damage));
        if (!m_sentWhole)
            (region++)->region = SPA_REGION(0, 0, m_size.width, m_size.height);
        else if (m_square == Square::Changing && squareColour != m_sentSquareColour)
            (region++)->region = kSquare;
        if (spa_meta_check(region, damage))
            region->region = SPA_REGION(0, 0, 0, 0);
        m_sentWhole = true;
        m_sentSquareColour = squareColour;
    }

    static void DescribeCursor(spa_meta_cursor& cursor) {
        cursor.id = 1;
        cursor.flags = 0;
        cursor.position = {kPointerX, kPointerY};
        cursor.hotspot = {0, 0};
        cursor.bitmap_offset = sizeof(spa_meta_cursor);
        auto* bitmap = SPA_PTROFF(&cursor, cursor.bitmap_offset, spa_meta_bitmap);
        bitmap->format = SPA_VIDEO_FORMAT_BGRA;
        bitmap->size = {kCursorSize, kCursorSize};
        bitmap->stride = kCursorSize * 4;
        bitmap->offset = sizeof(spa_meta_bitmap);
        std::memset(SPA_PTROFF(bitmap, bitmap->offset, void), 0xff, kCursorSize * kCursorSize * 4);
    }

    template <auto Release> struct Deleter {
        template <typename T> void operator()(T* object) const { Release(object); }
    };
    // Members go in reverse order: the stream before its core, the loop last.
    std::unique_ptr<pw_thread_loop, Deleter<pw_thread_loop_destroy>> m_loop;
    std::unique_ptr<pw_context, Deleter<pw_context_destroy>> m_context;
    std::unique_ptr<pw_core, Deleter<pw_core_disconnect>> m_core;
    std::unique_ptr<pw_stream, Deleter<pw_stream_destroy>> m_stream;
    pw_stream_events m_events{};
    spa_hook m_listener{};
    spa_source* m_timer = nullptr; // owned by the loop
    const spa_rectangle m_offered;
    const spa_rectangle m_grown; // 0 x 0: it never grows
    const uint32_t m_colour;
    const Square m_square;
    spa_rectangle m_size{};
    int m_framesSent = 0;
    bool m_sentWhole = false; // since the consumer or the size is new
    uint32_t m_sentSquareColour = 0;
};

const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");

} // namespace

// The backend's side of one portal session: the front end closes it here.
class CastSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Session")
public:
    CastSession(QDBusConnection bus, QString path, QObject* parent)
        : QObject(parent), m_bus(std::move(bus)), m_path(std::move(path)) {
        m_bus.registerObject(m_path, this, QDBusConnection::ExportAllSlots);
    }

public slots:
    void Close() {
        m_bus.unregisterObject(m_path);
        deleteLater();
    }

signals:
    void Closed();

private:
    QDBusConnection m_bus;
    QString m_path;
};

// Grants every request at once: no one is there to pick a screen. A session
// that asked for windows only gets the window.
class CursorCastBackend : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.ScreenCast")
    Q_PROPERTY(uint AvailableSourceTypes READ availableSourceTypes)
    Q_PROPERTY(uint AvailableCursorModes READ availableCursorModes)
    Q_PROPERTY(uint version READ version)
public:
    CursorCastBackend(CastSource& screen, CastSource& window)
        : m_screen(screen), m_window(window) {}
    uint availableSourceTypes() const { return kMonitor | kWindowSource; }
    uint availableCursorModes() const { return kCursorHidden | kCursorMetadata; }
    uint version() const { return 4; }

public slots:
    uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                       const QVariantMap&, QVariantMap& results) {
        new CastSession(QDBusConnection::sessionBus(), session.path(), this);
        results.insert(QStringLiteral("session_id"), session.path());
        return 0;
    }
    uint SelectSources(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                       const QVariantMap& options, QVariantMap&) {
        m_types[session.path()] = options.value(QStringLiteral("types"), kMonitor).toUInt();
        return 0;
    }
    uint Start(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
               const QString&, const QVariantMap&, QVariantMap& results) {
        const uint type = m_types.take(session.path()) == kWindowSource ? kWindowSource : kMonitor;
        const uint32_t node = (type == kWindowSource ? m_window : m_screen).Node();
        if (node == SPA_ID_INVALID)
            return 2;
        const CastStream stream{node,
                                {{QStringLiteral("size"), QVariant::fromValue(QSize())},
                                 {QStringLiteral("source_type"), type}}};
        results.insert(QStringLiteral("streams"), QVariant::fromValue(CastStreamList{stream}));
        return 0;
    }

private:
    CastSource& m_screen;
    CastSource& m_window;
    QHash<QString, uint> m_types; // per session, from its choice to its start
};

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    pw_init(&argc, &argv);
    qDBusRegisterMetaType<CastStream>();
    qDBusRegisterMetaType<CastStreamList>();
    CastSource screen(kScreen, kScreenColour, CastSource::Square::Changing);
    CastSource window(kWindow, kWindowColour, CastSource::Square::None, kGrownWindow);
    if (!screen.Start() || !window.Start()) {
        std::fprintf(stderr, "cursor-cast-backend: PipeWire cannot be reached\n");
        return 1;
    }
    CursorCastBackend backend(screen, window);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(kObjectPath, &backend,
                            QDBusConnection::ExportAllSlots |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.cursorcast"))) {
        std::fprintf(stderr, "cursor-cast-backend: the session bus refused the backend\n");
        return 1;
    }
    return application.exec();
}

#include "CursorCastBackend.moc"
