#pragma once

#include "recorder/capture/PrimaryMonitor.h"
#include "recorder/media/RowBands.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <memory>

// Reads one rectangle of a drawable (the root window, or a window's pixmap) into
// an XImage in the server's own pixel format. Shared memory (MIT-SHM) reuses one image for every
// capture; a server without it, or one that cannot reach our memory (a remote display), falls back
// to plain GetImage requests.
class ScreenCapture {
public:
    ScreenCapture();
    ~ScreenCapture();
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    // Makes one trial capture, so that a working Open means Capture can work. The
    // attributes are those of the window whose visual and depth the drawable has.
    bool Open(Display* display, Drawable drawable, const XWindowAttributes& attributes,
              const ScreenArea& area);
    void Close();
    // Frees our side only, without a word to the server, whose connection is lost.
    void Forget();

    // Reads the given rows of the area again; the rest of the image stays as the
    // last capture left it. Without shared memory every capture reads the whole
    // area, and no rows read none. The captured image, or nullptr when a request failed.
    const XImage* Capture(const RowBands& rows);
    // Reads the given rows as Capture does, then checks rows [top, bottom): reads
    // them again into a second image and takes over only what differs, which
    // `rows` gains. A check on what the damage notices said. Without shared
    // memory, or without room for a second image, every row is read and counts
    // as changed.
    const XImage* CaptureAndCheck(RowBands& rows, int top, int bottom);
    // The last image captured; after a successful Open there is one.
    const XImage* image() const {
        return m_shared.image ? m_shared.image.get() : m_plainImage.get();
    }

private:
    struct DestroyImage {
        void operator()(XImage* image) const;
    };
    // Its pixels and segment record belong to the segment, not to the image.
    struct DestroySharedImage {
        void operator()(XImage* image) const;
    };
    using ImagePtr = std::unique_ptr<XImage, DestroyImage>;
    using SharedImagePtr = std::unique_ptr<XImage, DestroySharedImage>;

    // A System V segment attached by the server as well as by us.
    class SharedSegment;

    // An image in a segment of its own, attached by the server too.
    struct SharedImage {
        std::unique_ptr<SharedSegment> segment;
        SharedImagePtr image; // points into the segment, so it goes first

        void Free();
    };

    SharedImage MakeSharedImage() const;
    bool ReadRows(const XImage& image, int top, int bottom);
    bool CaptureShared(const RowBands& rows);
    void TakeOverDifferences(RowBands& rows, int top, int bottom);

    Display* m_display = nullptr;
    Drawable m_drawable = 0;
    ScreenArea m_area;
    Visual* m_visual = nullptr;
    unsigned m_depth = 0;
    SharedImage m_shared;
    SharedImage m_check; // the rows checked by CaptureAndCheck
    ImagePtr m_plainImage;
};
