#pragma once

#include "recorder/PrimaryMonitor.h"
#include "recorder/RowBands.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <memory>

// Reads one rectangle of the root window into an XImage in the server's own
// pixel format. Shared memory (MIT-SHM) reuses one image for every capture;
// a server without it, or one that cannot reach our memory (a remote display),
// falls back to plain GetImage requests.
class ScreenCapture {
public:
    ScreenCapture();
    ~ScreenCapture();
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    // Makes one trial capture, so that a working Open means Capture can work.
    bool Open(Display* display, Window root, const XWindowAttributes& rootAttributes,
              const ScreenArea& area);
    void Close();
    // Frees our side only, without a word to the server, whose connection is lost.
    void Forget();

    // Reads the given rows of the area again; the rest of the image stays as the
    // last capture left it. Without shared memory every capture reads the whole
    // area, and no rows read none. The captured image, or nullptr when a request failed.
    const XImage* Capture(const RowBands& rows);
    // The last image captured; after a successful Open there is one.
    const XImage* image() const { return m_segment ? m_sharedImage.get() : m_plainImage.get(); }

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

    bool OpenShared(const XWindowAttributes& rootAttributes);
    bool CaptureShared(const RowBands& rows);

    Display* m_display = nullptr;
    Window m_root = 0;
    ScreenArea m_area;
    std::unique_ptr<SharedSegment> m_segment;
    SharedImagePtr m_sharedImage; // points into the segment, so it goes first
    ImagePtr m_plainImage;
};
