// Time per CScreenGrabber::Grab of a 24-bit screen (a private Xvfb server of
// 1920x1080, or of the WIDTHxHEIGHT given), with the cursor drawn and five click
// marks alive, and the heap allocations made inside Grab.
#include "recorder/ScreenGrabber.h"
#include "recorder/capture/CursorTracker.h"
#include "tests/support/XvfbServer.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
}

namespace {

// The grabbing thread's own processor time; the wall time also holds the
// server's copy and, on a busy machine, time spent waiting for a processor.
double ThreadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool g_counting = false;
size_t g_allocations = 0;

void Count() {
    if (g_counting)
        ++g_allocations;
}

// What one bare request with a reply costs in allocations inside libX11 and
// libxcb, for comparison with Grab's two (the image and the pointer).
double AllocationsPerRoundTrip(int count) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    const Window root = DefaultRootWindow(display);
    int x = 0;
    int y = 0;
    QueryPointer(display, root, x, y);
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < count; ++i)
        QueryPointer(display, root, x, y);
    g_counting = false;
    XCloseDisplay(display);
    return static_cast<double>(g_allocations) / count;
}

} // namespace

// Every heap allocation of the process, operator new included, passes here.
extern "C" void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

int main(int argc, char** argv) {
    constexpr int kWarmUp = 20;
    constexpr int kGrabs = 1000;
    constexpr int kLiveMarks = 5;

    testsupport::XvfbServer server(std::string(argc > 1 ? argv[1] : "1920x1080") + "x24");
    if (!server.running()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    server.makeCurrent();
    CScreenGrabber grabber;
    if (!grabber.Setup()) {
        std::fprintf(stderr, "cannot set up the grabber on %s\n", server.display().c_str());
        return 1;
    }
    const BitmapInfoHeader& header = *grabber.Header();
    std::vector<double> milliseconds;
    std::vector<double> processorMilliseconds;
    milliseconds.reserve(kGrabs);
    processorMilliseconds.reserve(kGrabs);
    for (int i = 0; i < kWarmUp + kGrabs; ++i) {
        // One new mark per grab keeps five alive, each lasting five grabs.
        auto& marks = grabber.ClickMarks();
        if (marks.size() < kLiveMarks)
            marks.push_back({header.biWidth / 2 + 30 * static_cast<int>(marks.size()),
                             header.biHeight / 2, i % 2 == 0, 0});
        const double processorStart = ThreadMilliseconds();
        const auto start = std::chrono::steady_clock::now();
        g_counting = i >= kWarmUp;
        const bool grabbed = grabber.Grab();
        g_counting = false;
        const auto end = std::chrono::steady_clock::now();
        const double processorEnd = ThreadMilliseconds();
        if (!grabbed) {
            std::fprintf(stderr, "grab %d failed\n", i);
            return 1;
        }
        if (i >= kWarmUp) {
            milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            processorMilliseconds.push_back(processorEnd - processorStart);
        }
    }
    const double median = Median(milliseconds);
    std::printf("frame %dx%d, %d bits per pixel, %d grabs with cursor and %d marks\n",
                header.biWidth, header.biHeight, header.biBitCount, kGrabs, kLiveMarks);
    std::printf("wall: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms\n", median,
                milliseconds[kGrabs * 99 / 100], milliseconds.back());
    std::printf("grabbing thread's processor time: median %.3f ms\n",
                Median(processorMilliseconds));
    std::printf("heap allocations inside Grab: %zu (%.1f per grab)\n", g_allocations,
                static_cast<double>(g_allocations) / kGrabs);
    std::printf("allocations of one bare X round trip (libX11 + libxcb reply records): %.1f\n",
                AllocationsPerRoundTrip(kGrabs));
    return 0;
}
