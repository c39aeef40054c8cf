#include "tests/support/SoundServer.h"

#include "tests/support/ExternalCommand.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

std::filesystem::path serverScript() {
    const char* source = std::getenv("TESMARA_SOURCE_DIR");
    return std::filesystem::path(source ? source : ".") / "tests/support/sound-server.sh";
}

std::string tone(double seconds, int frequency, double amplitude) {
    return "sox -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth " + std::to_string(seconds) +
           " sine " + std::to_string(frequency) + " vol " + std::to_string(amplitude);
}

} // namespace

SoundServer::SoundServer() {
    for (const char* program :
         {"pipewire", "wireplumber", "pipewire-pulse", "pactl", "sox", "dbus-daemon", "pacat", "parec"})
        requireProgram(program);
    char pattern[] = "/tmp/tesmara-sound-XXXXXX";
    if (!mkdtemp(pattern))
        return;
    m_folder = pattern;
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        execl("/bin/bash", "bash", serverScript().c_str(), m_folder.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    m_pid = pid;
    for (int i = 0; i < 150 && !std::filesystem::exists(m_folder / "ready"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!std::filesystem::exists(m_folder / "ready"))
        stop();
}

SoundServer::~SoundServer() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void SoundServer::makeCurrent() const {
    setenv("PULSE_SERVER", address().c_str(), 1);
}

void SoundServer::playOnSpeakers(double seconds, int frequency, double amplitude) const {
    std::system(("PULSE_SERVER=" + address() + " sh -c '" + tone(seconds, frequency, amplitude) +
                 " | pacat --device=speakers --format=s16le --rate=48000 --channels=2' &")
                    .c_str());
}

void SoundServer::playIntoMicrophone(double seconds, int frequency, double amplitude) const {
    std::system(("sh -c '" + tone(seconds, frequency, amplitude) + " > " +
                 (m_folder / "microphone.fifo").string() + "' &")
                    .c_str());
}

void SoundServer::stop() {
    if (m_pid <= 0)
        return;
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

} // namespace testsupport
