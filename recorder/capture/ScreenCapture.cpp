#include "recorder/capture/ScreenCapture.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

// About a megabyte from a full-HD screen, four from a 4K one.
constexpr int kCheckStripRows = 256;

// Rows are compared in steps this long: a differing row's columns are known to
// the step, which is close enough for the conversion.
constexpr int kStepBytes = 64;

struct Span {
    int first = 0; // bytes
    int end = 0;
};

// Where two rows of `bytes` bytes differ, to the step; empty when they do not.
Span DifferingBytes(const char* row, const char* other, int bytes) {
    if (std::memcmp(row, other, size_t(bytes)) == 0)
        return {};
    int first = 0;
    while (first + kStepBytes < bytes && std::memcmp(row + first, other + first, kStepBytes) == 0)
        first += kStepBytes;
    int end = bytes;
    while (end - kStepBytes > first &&
           std::memcmp(row + end - kStepBytes, other + end - kStepBytes, kStepBytes) == 0)
        end -= kStepBytes;
    return {first, end};
}

} // namespace

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

void ScreenCapture::SharedImage::Free() {
    image.reset();
    segment.reset();
}

ScreenCapture::ScreenCapture() = default;

ScreenCapture::~ScreenCapture() {
    Close();
}

bool ScreenCapture::Open(Display* display, Drawable drawable, const XWindowAttributes& attributes,
                         const ScreenArea& area) {
    Close();
    m_display = display;
    m_drawable = drawable;
    m_area = area;
    m_visual = attributes.visual;
    m_depth = static_cast<unsigned>(attributes.depth);
    const RowBands whole = RowBands::Whole(area.height);
    if (XShmQueryExtension(m_display)) {
        m_shared = MakeSharedImage();
        if (m_shared.image && Capture(whole)) {
            m_check = MakeSharedImage();
            if (m_check.image && !ReadRows(*m_check.image, 0, 1))
                m_check.Free();
            return true;
        }
        m_shared.Free();
    }
    if (Capture(whole))
        return true;
    Close();
    return false;
}

ScreenCapture::SharedImage ScreenCapture::MakeSharedImage() const {
    XShmSegmentInfo pending{};
    SharedImagePtr image(XShmCreateImage(m_display, m_visual, m_depth, ZPixmap, nullptr, &pending,
                                         static_cast<unsigned>(m_area.width),
                                         static_cast<unsigned>(m_area.height)));
    if (!image)
        return {};
    const size_t bytes =
        static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(image->height);
    auto segment = std::make_unique<SharedSegment>(m_display, bytes);
    if (!segment->usable())
        return {};
    image->data = segment->info()->shmaddr;
    image->obdata = reinterpret_cast<char*>(segment->info());
    return {std::move(segment), std::move(image)};
}

// A band's rows lie together in the segment, so the server writes each band
// straight to its place: the request's offset is the band's start.
bool ScreenCapture::ReadRows(const XImage& image, int top, int bottom) {
    XImage part = image;
    part.height = bottom - top;
    part.data = image.data + ptrdiff_t(top) * image.bytes_per_line;
    return XShmGetImage(m_display, m_drawable, &part, m_area.x, m_area.y + top, AllPlanes);
}

bool ScreenCapture::CaptureShared(const RowBands& rows) {
    for (const RowBands::Band& band : rows.bands()) {
        if (!ReadRows(*m_shared.image, band.top, band.bottom))
            return false;
    }
    return true;
}

void ScreenCapture::Forget() {
    for (SharedImage* shared : {&m_shared, &m_check}) {
        if (shared->segment)
            shared->segment->ForgetServer();
    }
    Close();
}

void ScreenCapture::Close() {
    m_shared.Free();
    m_check.Free();
    m_plainImage.reset();
    m_display = nullptr;
}

const XImage* ScreenCapture::Capture(const RowBands& rows) {
    if (!m_display)
        return nullptr;
    if (m_shared.image)
        return CaptureShared(rows) ? m_shared.image.get() : nullptr;
    if (rows.empty() && m_plainImage)
        return m_plainImage.get();
    // Without shared memory every reply arrives in a new image.
    ImagePtr image(XGetImage(m_display, m_drawable, m_area.x, m_area.y,
                             static_cast<unsigned>(m_area.width),
                             static_cast<unsigned>(m_area.height), AllPlanes, ZPixmap));
    if (!image)
        return nullptr;
    m_plainImage = std::move(image);
    return m_plainImage.get();
}

const XImage* ScreenCapture::CaptureAndCheck(RowBands& rows, int top, int bottom) {
    if (!m_check.image) {
        rows = RowBands::Whole(m_area.height);
        return Capture(rows);
    }
    if (!CaptureShared(rows))
        return nullptr;
    // The server answers no one else while it copies: a 4K screen in one request
    // would hold up a press for several milliseconds.
    for (int strip = top; strip < bottom; strip += kCheckStripRows) {
        if (!ReadRows(*m_check.image, strip, std::min(bottom, strip + kCheckStripRows)))
            return nullptr;
    }
    TakeOverDifferences(rows, top, bottom);
    return m_shared.image.get();
}

// Each differing part is copied into the image, and consecutive differing rows
// join into one band spanning all their columns.
void ScreenCapture::TakeOverDifferences(RowBands& rows, int top, int bottom) {
    const XImage& fresh = *m_check.image;
    XImage& image = *m_shared.image;
    const int pixelBytes = std::max(1, image.bits_per_pixel / 8);
    const int rowBytes = (m_area.width * image.bits_per_pixel + 7) / 8;
    std::optional<RowBands::Band> run;
    const auto endRun = [&] {
        if (run)
            rows.Add(*run, m_area.height);
        run.reset();
    };
    for (int row = top; row < bottom; ++row) {
        const ptrdiff_t offset = ptrdiff_t(row) * image.bytes_per_line;
        const Span span = DifferingBytes(image.data + offset, fresh.data + offset, rowBytes);
        if (span.first == span.end) {
            endRun();
            continue;
        }
        std::memcpy(image.data + offset + span.first, fresh.data + offset + span.first,
                    size_t(span.end - span.first));
        const int left = span.first / pixelBytes;
        const int right = std::min(m_area.width, (span.end + pixelBytes - 1) / pixelBytes);
        if (!run)
            run = RowBands::Band{row, row + 1, left, right};
        run->bottom = row + 1;
        run->left = std::min(run->left, left);
        run->right = std::max(run->right, right);
    }
    endRun();
}
