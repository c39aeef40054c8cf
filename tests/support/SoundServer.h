#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace testsupport {

// A private sound server for one test program (sound-server.sh beside this file):
// PipeWire's pulse server with a null sink "speakers" as the default output and a
// pipe source "microphone" as the default input. The calling process and its
// children reach it through PULSE_SERVER once it is made current.
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    bool running() const { return m_pid > 0; }
    std::string address() const { return "unix:" + (m_folder / "pulse/native").string(); }
    void makeCurrent() const;

    // Plays a sine tone into the speakers, in the background: seconds long, at
    // the given frequency and amplitude (0..1).
    void playOnSpeakers(double seconds, int frequency, double amplitude) const;
    // Feeds the microphone the same way.
    void playIntoMicrophone(double seconds, int frequency, double amplitude) const;

    // Kills the server and everything it started, as a crash would.
    void stop();

private:
    std::filesystem::path m_folder;
    pid_t m_pid = -1;
};

} // namespace testsupport
