#pragma once

// Before any X header: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "tests/hooks/ClickReceiver.h"
#include "tests/support/XvfbServer.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <linux/input.h>
#include <optional>
#include <string>
#include <sys/types.h>

namespace hooktest {

// A private, empty value store for one test: XDG_DATA_HOME points into a fresh
// temporary folder (inherited by the hosts the test starts), removed at the end.
class TempStore {
public:
    TempStore();
    ~TempStore();
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    // "HW" as the program publishes it at a recording start.
    void PublishWindow(uint32_t window);
    // "Keys" as a recording that shows keys publishes it.
    void PublishKeys(uint32_t showing);
    // "HW" as the dialog seeds it: a string.
    void PublishString(const std::u16string& text);

private:
    std::string m_folder;
    std::optional<std::string> m_previous;
};

// The folder the build puts the programs in (TESMARA_BIN_DIR).
std::string BinDir();

// The hook host, started from folder with this process's environment. Killed and
// collected at the end if still running.
class HostProcess {
public:
    // stderrFile: where the host's error output goes (default: this process's).
    explicit HostProcess(const std::string& stderrFile = {}, const std::string& folder = BinDir());
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool running();
    void Signal(int signal);
    // The wait status once it ended, or nothing when it still runs after timeout.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// A fixture whose suite shares one private Xvfb, the DISPLAY of every test in it.
class XvfbSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static inline testsupport::XvfbServer* server = nullptr;
};

// Presses buttons and moves the pointer with xdotool, e.g. "click 1 click 3".
void Xdotool(const testsupport::XvfbServer& server, const std::string& actions);

// Presses the left button until each of copies hooks reports one press, then lets
// late reports settle and forgets them all. False when no hook answered in time.
bool WaitUntilHooked(const testsupport::XvfbServer& server, ClickReceiver& receiver,
                     size_t copies = 1);

// One of the kernel's input event records.
input_event Record(uint16_t type, uint16_t code, int32_t value);
// Writes records to fd whole, as a device hands them to its readers.
void Send(int fd, std::initializer_list<input_event> records);

} // namespace hooktest
