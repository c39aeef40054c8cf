#pragma once

#include <string>

namespace testsupport {

// The tests drive real programs (Xvfb, xdotool, xrandr, ffprobe...). When one is
// not installed, the test stops right there with the program's name, instead of
// failing further down on a value the program never produced.

// Throws std::runtime_error naming the program when it is neither an executable
// path nor found on PATH; googletest reports that as the test's failure.
void requireProgram(const std::string& program);

// The program a shell command line starts, after any VAR=value assignments.
std::string commandProgram(const std::string& command);

struct CommandResult {
    int status = -1;    // the exit status; -1 when it did not exit normally
    std::string output; // what it printed on standard output
};

// Runs a shell command after requiring its program.
CommandResult runCommand(const std::string& command);
// Runs a shell command after requiring its program; what it printed on standard output.
std::string commandOutput(const std::string& command);

} // namespace testsupport
