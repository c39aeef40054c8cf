#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <filesystem>
#include <json/value.h>
#include <map>
#include <optional>
#include <string>

class QWidget;
class CKestraboleDlg;

// A widget test: its own home, configuration, data and temporary folders (so
// the user's settings and value store stay untouched), and every message the
// program shows collected instead of being put in a blocking box.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path SettingsFile() const;
    void WriteSettings(const Json::Value& settings) const;
    Json::Value ReadSettings() const;

    // The text of one of the dialog's line edits.
    static void Type(const CKestraboleDlg& dialog, int id, const QString& text);
    static QString TextOf(const CKestraboleDlg& dialog, int id);

    QStringList m_messages;

private:
    std::filesystem::path m_root;
    std::map<std::string, std::optional<std::string>> m_savedEnvironment;
};

// Runs queued events for a short while.
void ProcessEvents(int milliseconds = 50);
