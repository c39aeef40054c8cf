#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The program's own command line: --help and --version answer and end the program
// before any window system is opened, so they work without a display; Qt's own
// options pass through to the application object; anything else is refused with
// exit status 2, as command-line tools do.
class CommandLine {
public:
    static constexpr int kUsageError = 2;

    // arguments include the program name, as main() receives them.
    explicit CommandLine(std::vector<std::string> arguments);

    // The exit status when the program should end here (after printing help, the
    // version or an error); nothing when it should start.
    std::optional<int> Handle(std::ostream& out, std::ostream& err) const;

    // Qt opens the display named by -display; the program's own X connections and
    // the helper process it starts follow DISPLAY, which is set to the same.
    void ExportDisplay() const;

private:
    std::string ProgramName() const;
    void PrintHelp(std::ostream& out) const;

    std::vector<std::string> m_arguments;
};
