#include "recorder/ScreenCapture.h"

#include <X11/Xutil.h>

#include <sys/ipc.h>
#include <sys/shm.h>

class ScreenCapture::SharedSegment {
public:
    SharedSegment(Display* display, size_t bytes) : m_display(display) {
        m_info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (m_info.shmid < 0)
            return;
        void* address = shmat(m_info.shmid, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            RemoveId();
            return;
        }
        m_info.shmaddr = static_cast<char*>(address);
        m_info.readOnly = False;
        // A server that cannot reach the segment answers with an error, which
        // the trial capture after this brings to light.
        m_attachRequested = XShmAttach(display, &m_info);
        XSync(display, False);
        // Marked for removal once both sides hold it: the memory goes with the
        // last detach, even if this process dies.
        RemoveId();
    }

    ~SharedSegment() {
        if (m_attachRequested) {
            XShmDetach(m_display, &m_info);
            XSync(m_display, False);
        }
        if (m_info.shmaddr)
            shmdt(m_info.shmaddr);
        RemoveId();
    }

    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    bool usable() const { return m_info.shmaddr && m_attachRequested; }
    // The server can no longer be asked to detach.
    void ForgetServer() { m_attachRequested = false; }
    XShmSegmentInfo* info() { return &m_info; }

private:
    void RemoveId() {
        if (m_info.shmid >= 0)
            shmctl(m_info.shmid, IPC_RMID, nullptr);
        m_info.shmid = -1;
    }

    Display* m_display;
    XShmSegmentInfo m_info{0, -1, nullptr, False};
    bool m_attachRequested = false;
};

void ScreenCapture::DestroyImage::operator()(XImage* image) const {
    XDestroyImage(image);
}

void ScreenCapture::DestroySharedImage::operator()(XImage* image) const {
    image->data = nullptr;
    image->obdata = nullptr;
    XDestroyImage(image);
}

ScreenCapture::ScreenCapture() = default;

ScreenCapture::~ScreenCapture() {
    Close();
}

bool ScreenCapture::Open(Display* display, Window root, const XWindowAttributes& rootAttributes,
                         const ScreenArea& area) {
    Close();
    m_display = display;
    m_root = root;
    m_area = area;
    const RowBands whole = RowBands::Whole(area.height);
    if (OpenShared(rootAttributes) && Capture(whole))
        return true;
    m_sharedImage.reset();
    m_segment.reset();
    if (Capture(whole))
        return true;
    Close();
    return false;
}

bool ScreenCapture::OpenShared(const XWindowAttributes& rootAttributes) {
    if (!XShmQueryExtension(m_display))
        return false;
    XShmSegmentInfo pending{};
    SharedImagePtr image(XShmCreateImage(m_display, rootAttributes.visual,
                                         static_cast<unsigned>(rootAttributes.depth), ZPixmap,
                                         nullptr, &pending, static_cast<unsigned>(m_area.width),
                                         static_cast<unsigned>(m_area.height)));
    if (!image)
        return false;
    const size_t bytes =
        static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(image->height);
    auto segment = std::make_unique<SharedSegment>(m_display, bytes);
    if (!segment->usable())
        return false;
    image->data = segment->info()->shmaddr;
    image->obdata = reinterpret_cast<char*>(segment->info());
    m_segment = std::move(segment);
    m_sharedImage = std::move(image);
    return true;
}

// A band's rows lie together in the segment, so the server writes each band
// straight to its place: the request's offset is the band's start.
bool ScreenCapture::CaptureShared(const RowBands& rows) {
    for (const RowBands::Band& band : rows.bands()) {
        XImage part = *m_sharedImage;
        part.height = band.bottom - band.top;
        part.data = m_sharedImage->data + ptrdiff_t(band.top) * m_sharedImage->bytes_per_line;
        if (!XShmGetImage(m_display, m_root, &part, m_area.x, m_area.y + band.top, AllPlanes))
            return false;
    }
    return true;
}

void ScreenCapture::Forget() {
    if (m_segment)
        m_segment->ForgetServer();
    Close();
}

void ScreenCapture::Close() {
    m_sharedImage.reset();
    m_segment.reset();
    m_plainImage.reset();
    m_display = nullptr;
}

const XImage* ScreenCapture::Capture(const RowBands& rows) {
    if (!m_display)
        return nullptr;
    if (m_segment)
        return CaptureShared(rows) ? m_sharedImage.get() : nullptr;
    if (rows.empty() && m_plainImage)
        return m_plainImage.get();
    // Without shared memory every reply arrives in a new image.
    ImagePtr image(XGetImage(m_display, m_root, m_area.x, m_area.y,
                             static_cast<unsigned>(m_area.width),
                             static_cast<unsigned>(m_area.height), AllPlanes, ZPixmap));
    if (!image)
        return nullptr;
    m_plainImage = std::move(image);
    return m_plainImage.get();
}
