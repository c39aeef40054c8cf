#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// What the command line asks of a running recorder, over the session bus.
struct RemoteRequest {
    enum class Command { None, Start, Stop, TogglePause, Status };
    Command command = Command::None;
    std::string output;            // --start's file, made absolute; empty: the dialog's
    unsigned stopAfterSeconds = 0; // --start's stop time; 0: the dialog's
    std::string area; // --start's area, as ParseAreaChoice reads it; empty: the dialog's
};

// The program's own command line: --help and --version answer and end the program
// before any window system is opened, so they work without a display; the
// commands for a running recorder (--start, --stop, --toggle-pause, --status) are
// read for the caller to send; Qt's own options pass through to the application
// object; anything else is refused with exit status 2, as command-line tools do.
class CommandLine {
public:
    static constexpr int kUsageError = 2;

    // arguments include the program name, as main() receives them.
    explicit CommandLine(std::vector<std::string> arguments);

    // The exit status when the program should end here (after printing help, the
    // version or an error); nothing when it should start.
    std::optional<int> Handle(std::ostream& out, std::ostream& err);
    // The command for a running recorder, once Handle let the program go on.
    const RemoteRequest& Remote() const { return m_remote; }

    // Qt opens the display named by -display; the program's own X connections and
    // the helper process it starts follow DISPLAY, which is set to the same.
    void ExportDisplay() const;

    std::string ProgramName() const;

private:
    void PrintHelp(std::ostream& out) const;
    // Takes one of the remote commands and its options at i; false when the
    // argument is none of them. Sets error when it is one, used wrongly.
    bool TakeRemoteArgument(size_t& i, std::string& error);
    std::string CheckRemoteRequest() const;

    std::vector<std::string> m_arguments;
    RemoteRequest m_remote;
    bool m_startOptions = false; // --output or --stop-after given
};
