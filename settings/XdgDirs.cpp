#include "settings/XdgDirs.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace xdg {
namespace {

// An unset or empty variable counts as missing, as the XDG conventions ask.
std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string WithoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

std::string PasswdHome() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return "";
    return found->pw_dir;
}

// A value of user-dirs.dirs: "$HOME/rest" or an absolute path, in double quotes,
// with backslash escapes. Anything else is not a usable folder.
std::string ParseUserDirValue(const std::string& raw) {
    if (raw.size() < 2 || raw.front() != '"')
        return "";
    std::string value;
    for (size_t i = 1; i < raw.size() && raw[i] != '"'; ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size())
            ++i;
        value += raw[i];
    }
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
        return HomeDir() + value.substr(5);
    return value.rfind('/', 0) == 0 ? value : "";
}

std::string UserDir(const char* name) {
    std::ifstream file(ConfigHome() + "/user-dirs.dirs");
    const std::string prefix = std::string(name) + "=";
    std::string line;
    std::string found;
    while (std::getline(file, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line.compare(start, prefix.size(), prefix) == 0)
            found = ParseUserDirValue(line.substr(start + prefix.size()));
    }
    return found;
}

} // namespace

std::string HomeDir() {
    const std::string home = Env("HOME");
    return WithoutTrailingSlashes(home.empty() ? PasswdHome() : home);
}

std::string BaseDir(const char* var, const char* fallback) {
    const std::string value = Env(var);
    if (!value.empty() && value.front() == '/')
        return WithoutTrailingSlashes(value);
    return HomeDir() + "/" + fallback;
}

std::string ConfigHome() {
    return BaseDir("XDG_CONFIG_HOME", ".config");
}

std::string DataHome() {
    return BaseDir("XDG_DATA_HOME", ".local/share");
}

std::string DocumentsDir() {
    const std::string configured = UserDir("XDG_DOCUMENTS_DIR");
    return WithoutTrailingSlashes(configured.empty() ? HomeDir() + "/Documents" : configured);
}

std::string TempDir() {
    for (const char* var : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
        const std::string value = Env(var);
        if (!value.empty())
            return WithoutTrailingSlashes(value);
    }
    return "/tmp";
}

} // namespace xdg
