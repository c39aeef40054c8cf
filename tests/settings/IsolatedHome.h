#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// Runs each test with HOME, the XDG folders and TMPDIR inside a fresh temporary
// folder, so that nothing of the user's own settings or store is touched.
class IsolatedHome : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path Home() const { return m_root / "home"; }
    std::filesystem::path ConfigHome() const { return m_root / "config"; }
    std::filesystem::path DataHome() const { return m_root / "data"; }

    static void SetEnv(const char* name, const std::filesystem::path& value);
    static void WriteFile(const std::filesystem::path& file, const std::string& contents);
    static std::string ReadFile(const std::filesystem::path& file);

private:
    std::filesystem::path m_root;
    std::map<std::string, std::optional<std::string>> m_savedEnv;
};
