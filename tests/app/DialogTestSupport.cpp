#include "tests/app/DialogTestSupport.h"

#include "app/KestraboleDlg.h"
#include "app/UserMessage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <cstdlib>
#include <fstream>
#include <json/reader.h>
#include <json/writer.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// One QApplication on the offscreen platform for the whole program, made before
// any test runs. The platform is chosen by argument, not by environment, so that
// programs that tests start keep the real display.
class OffscreenApplication : public ::testing::Environment {
public:
    void SetUp() override {
        if (!QCoreApplication::instance())
            m_application = new QApplication(m_argc, m_argv);
        QApplication::setApplicationName(QStringLiteral("Kestrabole"));
    }
    // Gone before static destruction begins, while what it uses still exists.
    void TearDown() override {
        delete m_application;
        m_application = nullptr;
    }

private:
    int m_argc = 3;
    char m_name[10] = "app_tests";
    char m_option[10] = "-platform";
    char m_platform[10] = "offscreen";
    char* m_argv[4] = {m_name, m_option, m_platform, nullptr};
    QApplication* m_application = nullptr;
};

[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new OffscreenApplication);

const char* const kIsolatedVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR",
                                          "XDG_RUNTIME_DIR"};

} // namespace

void ProcessEvents(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (clock.elapsed() < milliseconds);
}

void DialogTest::SetUp() {
    std::string pattern = fs::temp_directory_path() / "tesmara-dialog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    for (const char* name : kIsolatedVariables) {
        const char* value = std::getenv(name);
        m_savedEnvironment[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    fs::create_directories(m_root / "home");
    fs::create_directories(m_root / "tmp");
    setenv("HOME", (m_root / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);
    setenv("TMPDIR", (m_root / "tmp").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    SetUserMessageObserver([this](const QString& text) { m_messages << text; });
}

void DialogTest::TearDown() {
    SetUserMessageObserver({});
    for (const auto& [name, value] : m_savedEnvironment) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

fs::path DialogTest::SettingsFile() const {
    return m_root / "config" / "Tesmara Screen Recorder" / "settings";
}

void DialogTest::WriteSettings(const Json::Value& settings) const {
    fs::create_directories(SettingsFile().parent_path());
    std::ofstream(SettingsFile()) << Json::StyledWriter().write(settings);
}

Json::Value DialogTest::ReadSettings() const {
    std::ifstream in(SettingsFile());
    std::stringstream text;
    text << in.rdbuf();
    Json::Value settings;
    EXPECT_TRUE(Json::Reader().parse(text.str(), settings)) << "no settings file";
    return settings;
}

void DialogTest::Type(const CKestraboleDlg& dialog, int id, const QString& text) {
    static_cast<QLineEdit*>(dialog.Control(id))->setText(text);
}

QString DialogTest::TextOf(const CKestraboleDlg& dialog, int id) {
    return static_cast<QLineEdit*>(dialog.Control(id))->text();
}
