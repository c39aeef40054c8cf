// The recording path on a Wayland desktop (portal + PipeWire) beside the X11 path
// on Xvfb, in one run: bench/record_driver records 1920x1080 at 30 fps on each,
// with the same moving picture (ffplay's test source in a window in the middle of
// a black desk) on screen, under /usr/bin/time. Prints the slots written and
// processor seconds per recorded second of each. Needs root or a user that may
// run sway (see tests/wayland).
//   build/bench/wayland_bench [seconds] [codec description]
#include "tests/support/XvfbServer.h"
#include "tests/wayland/WaylandDesktop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

// In the middle of the screen: titled, so that sway floats it at its own size (and
// centres it) instead of tiling it over the whole output.
const char* const kMovingPicture =
    "ffplay -loglevel quiet -window_title tesmara-moving -f lavfi -i "
    "testsrc2=size=640x360:rate=30 -x 640 -y 360 -left 640 -top 360";

std::string readAll(const fs::path& file) {
    std::ifstream in(file);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void report(const char* name, const fs::path& log, const fs::path& times, int seconds) {
    double user = 0, system = 0;
    std::ifstream(times) >> user >> system;
    std::printf("%-8s %s         processor seconds per recorded second: %.3f\n", name,
                readAll(log).c_str(), (user + system) / seconds);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::string codec = argc > 2 ? argv[2] : "Xvid MPEG-4 Codec";
    const fs::path driver = fs::canonical("/proc/self/exe").parent_path() / "record_driver";
    const std::string command = "/usr/bin/time -f '%U %S' -o {dir}/times " + driver.string() + " " +
                                std::to_string(seconds) + " 30 '" + codec +
                                "' {dir}/out.avi > {dir}/log 2>&1";
    const auto in = [&](const fs::path& dir) {
        std::string text = command;
        for (size_t at; (at = text.find("{dir}")) != std::string::npos;)
            text.replace(at, 5, dir.string());
        return text;
    };

    waylandtests::WaylandDesktop wayland;
    if (!wayland.problem().empty()) {
        std::fprintf(stderr, "%s\n", wayland.problem().c_str());
        return 1;
    }
    const fs::path wlDir = wayland.folder() / "home/bench";
    fs::create_directories(wlDir);
    wayland.handOver(wlDir);
    // A black desk, as the X server's.
    wayland.run("swaymsg output HEADLESS-1 resolution 1920x1080 bg '#000000' solid_color "
                ">/dev/null; swaymsg 'for_window [title=\"^tesmara-moving$\"] floating enable' "
                ">/dev/null");
    wayland.spawn(kMovingPicture, "logs/ffplay.log");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    wayland.run("TESMARA_SESSION=wayland XDG_DATA_HOME=" + wlDir.string() + " " + in(wlDir));

    testsupport::XvfbServer x11("1920x1080x24", {"-noreset"});
    const fs::path x11Dir = wayland.folder() / "x11";
    fs::create_directories(x11Dir);
    std::system(("DISPLAY=" + x11.display() + " " + kMovingPicture +
                 " >/dev/null 2>&1 & echo $! > " + (x11Dir / "ffplay.pid").string())
                    .c_str());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::system(("DISPLAY=" + x11.display() + " TESMARA_SESSION=x11 " + in(x11Dir)).c_str());
    std::system(("kill $(cat " + (x11Dir / "ffplay.pid").string() + ")").c_str());

    report("wayland", wlDir / "log", wlDir / "times", seconds);
    report("x11", x11Dir / "log", x11Dir / "times", seconds);
    return 0;
}
