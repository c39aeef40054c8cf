// Records the screen the way the recording session does, without the dialog: a
// precise timer with period 1000 / rate ms, and per tick the millisecond clock,
// a grab and a write at position ((now - start) * rate) / 1000 - 1 in unsigned
// 32-bit arithmetic. Prints the slots written; run under /usr/bin/time for the
// processor time. Used by bench/side_by_side.sh.
//   bench/record_driver <seconds> <frame rate> <codec description> <output.avi>
#include "recorder/ScreenGrabber.h"
#include "recorder/output/AviWriter.h"
#include "recorder/output/CodecCatalogue.h"
#include "settings/Utf16.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

uint32_t Milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000);
}

void SleepUntil(const timespec& when) {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
    }
}

timespec AddMilliseconds(timespec time, unsigned milliseconds) {
    time.tv_nsec += long(milliseconds) * 1000000;
    time.tv_sec += time.tv_nsec / 1000000000;
    time.tv_nsec %= 1000000000;
    return time;
}

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s seconds rate codec-description output.avi\n", argv[0]);
        return 2;
    }
    // The portal's answers come through Qt's event loop.
    QCoreApplication application(argc, argv);
    const unsigned seconds = unsigned(std::atoi(argv[1]));
    const unsigned rate = unsigned(std::atoi(argv[2]));
    AviCompressOptions options;
    CCodecCatalogue::Resolve(FromUtf8(argv[3]), options);

    CScreenGrabber grabber;
    CAviWriter writer;
    if (rate == 0 || !grabber.Setup() || !grabber.Grab() ||
        !writer.Open(FromUtf8(argv[4]), rate, options, grabber.Header())) {
        std::fprintf(stderr, "could not start recording\n");
        return 1;
    }
    const unsigned period = 1000 / rate;
    const uint32_t start = Milliseconds();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const timespec end = AddMilliseconds(next, seconds * 1000);
    next = AddMilliseconds(next, period);
    unsigned ticks = 0, written = 0, overlong = 0;
    int32_t last = -1;
    while (!Before(end, next)) {
        SleepUntil(next);
        // As Qt's precise timer: the next expiry is set when this one fires, one
        // period on; only a tick later than that is not made up for.
        timespec fired{};
        clock_gettime(CLOCK_MONOTONIC, &fired);
        next = AddMilliseconds(next, period);
        if (Before(next, fired))
            next = AddMilliseconds(fired, period);

        const uint32_t tick = Milliseconds();
        grabber.Grab();
        const auto position = int32_t((tick - start) * rate / 1000 - 1);
        writer.WriteFrame(position, grabber.Pixels(), grabber.Header()->biSizeImage);
        ++ticks;
        // A tick whose own work outlasts the period would delay the next one.
        if (Milliseconds() - tick > period)
            ++overlong;
        if (position > last) {
            ++written;
            last = position;
        }
    }
    writer.Release();
    grabber.Release();
    std::printf("ticks %u (%u longer than a period), slots written %u of %d (%.2f%%)\n", ticks,
                overlong, written, last + 1, 100.0 * written / (last + 1));
    return 0;
}
