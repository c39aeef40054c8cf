#include "tests/support/ExternalCommand.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool isExecutable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

bool foundOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (isExecutable((folder.empty() ? "." : folder) + "/" + program))
            return true;
    return false;
}

} // namespace

void requireProgram(const std::string& program) {
    bool found =
        program.find('/') != std::string::npos ? isExecutable(program) : foundOnPath(program);
    if (!found)
        throw std::runtime_error("this test needs the program \"" + program +
                                 "\", which is not found here (scripts/install-deps installs "
                                 "the programs the tests use)");
}

std::string commandProgram(const std::string& command) {
    std::istringstream words(command);
    std::string word;
    while (words >> word && word.find('=') != std::string::npos) {
    }
    return word;
}

CommandResult runCommand(const std::string& command) {
    requireProgram(commandProgram(command));
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    while (size_t read = fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, read);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string commandOutput(const std::string& command) {
    return runCommand(command).output;
}

} // namespace testsupport
