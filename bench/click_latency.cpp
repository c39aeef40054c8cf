// Time from a button press to its report being handled by the receiving window.
// A private Xvfb, a real hook host, a receiver window in this process; each press is
// made with XTest and timed from just before the request goes out to the moment the
// receiver handles the message. Presses go one at a time, alternating left and right.
// Given a window, the press messages go straight to that window on $DISPLAY (the
// program's dialog, recording) and are timed from sending to the answer; before
// each, an empty round trip to the X server (XSync) is timed too: no answer can
// come sooner than the server's own.
//
//   bench/click_latency [presses] [window]     (default 200, the private receiver)

#include "tests/hooks/HookTestSupport.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/ThisThread.h"
#include "hooklib/XConnection.h"

#include <X11/Xlib.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// libXtst ships without headers here; its one call we need is looked up by name.
using FakeButtonEvent = int (*)(Display*, unsigned, Bool, unsigned long);

FakeButtonEvent LoadXTest() {
    void* library = dlopen("libXtst.so.6", RTLD_NOW);
    return library ? reinterpret_cast<FakeButtonEvent>(dlsym(library, "XTestFakeButtonEvent"))
                   : nullptr;
}

double Milliseconds(ClickReceiver::Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int Report(std::vector<double> latencies, const char* what = "presses") {
    std::sort(latencies.begin(), latencies.end());
    std::printf("%s %zu  median %.3f ms  p95 %.3f ms  p99 %.3f ms  worst %.3f ms\n",
                what, latencies.size(), latencies[latencies.size() / 2],
                latencies[latencies.size() * 95 / 100], latencies[latencies.size() * 99 / 100],
                latencies.back());
    return 0;
}

// The helper's side of a press, as it talks to a dialog: a message, then the wait.
int MeasureWindow(int presses, Window target) {
    // As the hook's thread does.
    thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
    auto sender = XConnection::Open();
    if (!sender) {
        std::fprintf(stderr, "no X server on DISPLAY\n");
        return 1;
    }
    Display* display = sender->display();
    const Window replies =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    std::vector<double> latencies;
    std::vector<double> roundTrips;
    for (int i = 0; i < presses; ++i) {
        clickchannel::WindowMessage message;
        message.message = i % 2 ? clickchannel::kRightButtonDown : clickchannel::kLeftButtonDown;
        const auto synced = ClickReceiver::Clock::now();
        XSync(display, False);
        roundTrips.push_back(Milliseconds(ClickReceiver::Clock::now() - synced));
        const auto sent = ClickReceiver::Clock::now();
        if (!clickchannel::SendAndWait(display, target, replies, message, 2000)) {
            std::fprintf(stderr, "press %d was not answered\n", i);
            return 1;
        }
        latencies.push_back(Milliseconds(ClickReceiver::Clock::now() - sent));
        std::this_thread::sleep_for(20ms);
    }
    Report(roundTrips, "X server round trips");
    return Report(latencies);
}

} // namespace

int main(int argc, char** argv) {
    const int presses = argc > 1 ? std::atoi(argv[1]) : 200;
    if (argc > 2)
        return MeasureWindow(presses, std::strtoul(argv[2], nullptr, 0));
    setenv("TESMARA_BIN_DIR", TESMARA_DEFAULT_BIN_DIR, 0);
    const FakeButtonEvent fakeButton = LoadXTest();
    testsupport::XvfbServer server("1280x720x24");
    if (!fakeButton || !server.running()) {
        std::fprintf(stderr, "needs libXtst.so.6 and Xvfb\n");
        return 1;
    }
    server.makeCurrent();

    hooktest::TempStore store;
    ClickReceiver receiver;
    store.PublishWindow(static_cast<uint32_t>(receiver.window()));
    hooktest::HostProcess host;
    if (!hooktest::WaitUntilHooked(server, receiver)) {
        std::fprintf(stderr, "the hook host did not report presses\n");
        return 1;
    }

    auto presser = XConnection::Open();
    Display* display = presser->display();
    std::vector<double> latencies;
    for (int i = 0; i < presses; ++i) {
        const unsigned button = i % 2 ? Button3 : Button1;
        const auto pressed = ClickReceiver::Clock::now();
        fakeButton(display, button, True, CurrentTime);
        XFlush(display);
        const auto received = receiver.WaitFor(static_cast<size_t>(i) + 1, 2s);
        fakeButton(display, button, False, CurrentTime);
        XFlush(display);
        if (received.size() != static_cast<size_t>(i) + 1) {
            std::fprintf(stderr, "press %d was not reported\n", i);
            return 1;
        }
        latencies.push_back(Milliseconds(received.back().handledAt - pressed));
    }
    return Report(latencies);
}
