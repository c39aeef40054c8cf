#include "IsolatedHome.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
const char* const kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR",
                                  "XDG_RUNTIME_DIR"};
}

void IsolatedHome::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tesmara-settings-XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    for (const char* name : kVariables) {
        const char* value = std::getenv(name);
        m_savedEnv[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::filesystem::create_directories(Home());
    SetEnv("HOME", Home());
    SetEnv("XDG_CONFIG_HOME", ConfigHome());
    SetEnv("XDG_DATA_HOME", DataHome());
    SetEnv("TMPDIR", m_root / "tmp");
    unsetenv("XDG_RUNTIME_DIR");
}

void IsolatedHome::TearDown() {
    for (const auto& [name, value] : m_savedEnv) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::error_code ignored;
    std::filesystem::permissions(m_root, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_root, ignored);
}

void IsolatedHome::SetEnv(const char* name, const std::filesystem::path& value) {
    setenv(name, value.c_str(), 1);
}

void IsolatedHome::WriteFile(const std::filesystem::path& file, const std::string& contents) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

std::string IsolatedHome::ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}
