#include "tests/hooks/HookTestSupport.h"

#include "settings/RegEdit.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace hooktest {

namespace {

const std::u16string kSharedKey = u"Software\\DaltropSC";

} // namespace

std::string BinDir() {
    const char* folder = std::getenv("TESMARA_BIN_DIR");
    return folder ? folder : ".";
}

TempStore::TempStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hook-store-XXXXXX").string();
    m_folder = mkdtemp(pattern.data()) ? pattern : std::string{};
    if (const char* previous = std::getenv("XDG_DATA_HOME"))
        m_previous = previous;
    setenv("XDG_DATA_HOME", m_folder.c_str(), 1);
}

TempStore::~TempStore() {
    if (m_previous)
        setenv("XDG_DATA_HOME", m_previous->c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void TempStore::PublishWindow(uint32_t window) {
    CRegEdit().WriteDword(true, kSharedKey, u"HW", window);
}

void TempStore::PublishKeys(uint32_t showing) {
    CRegEdit().WriteDword(true, kSharedKey, u"Keys", showing);
}

void TempStore::PublishString(const std::u16string& text) {
    CRegEdit().WriteString(true, kSharedKey, u"HW", text);
}

HostProcess::HostProcess(const std::string& stderrFile, const std::string& folder) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stderrFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string path = folder + "/Daltrop";
    char* argv[] = {path.data(), nullptr};
    if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

HostProcess::~HostProcess() {
    if (running()) {
        kill(m_pid, SIGKILL);
        WaitForExit(std::chrono::seconds(5));
    }
}

bool HostProcess::running() {
    return m_pid > 0 && !m_status && !WaitForExit(std::chrono::milliseconds(0));
}

void HostProcess::Signal(int signal) {
    if (m_pid > 0 && !m_status)
        kill(m_pid, signal);
}

std::optional<int> HostProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0 && !m_status) {
        int status = 0;
        const pid_t ended = waitpid(m_pid, &status, WNOHANG);
        if (ended == m_pid || (ended < 0 && errno != EINTR))
            m_status = status;
        else if (std::chrono::steady_clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}

void XvfbSuite::SetUpTestSuite() {
    server = new testsupport::XvfbServer();
    ASSERT_TRUE(server->running());
}

void XvfbSuite::TearDownTestSuite() {
    delete server;
    server = nullptr;
}

void XvfbSuite::SetUp() { server->makeCurrent(); }

void Xdotool(const testsupport::XvfbServer& server, const std::string& actions) {
    testsupport::runOnDisplay(server, "xdotool " + actions);
}

bool WaitUntilHooked(const testsupport::XvfbServer& server, ClickReceiver& receiver,
                     size_t copies) {
    using namespace std::chrono_literals;
    for (int probe = 0; probe < 40; ++probe) {
        receiver.Clear();
        Xdotool(server, "click 1");
        if (receiver.WaitFor(copies, 300ms).size() >= copies) {
            std::this_thread::sleep_for(300ms);
            receiver.Clear();
            return true;
        }
    }
    return false;
}

input_event Record(uint16_t type, uint16_t code, int32_t value) {
    input_event record{};
    record.type = type;
    record.code = code;
    record.value = value;
    return record;
}

void Send(int fd, std::initializer_list<input_event> records) {
    for (const input_event& record : records)
        ASSERT_EQ(write(fd, &record, sizeof record), static_cast<ssize_t>(sizeof record));
}

} // namespace hooktest
