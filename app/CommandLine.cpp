#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace {

// The options every Qt program takes (QGuiApplication, QApplication and the X11
// platform), by name without dashes; Qt accepts them with one dash or two. Most
// take their value as the next argument, a few after '=' instead.
// clang-format off
constexpr std::array kQtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync",
                                 "testability"};
constexpr std::array kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle", "session", "display", "geometry", "title", "icon", "name",
    "style", "stylesheet"};
constexpr std::array kQtOptionsWithEquals = {"style", "stylesheet", "qmljsdebugger", "dialogs",
                                             "fontengine"};
// clang-format on

template <size_t N> bool Contains(const std::array<const char*, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// "-platform" and "--platform" both name "platform", "-style=fusion" names "style";
// an argument without a leading dash names nothing.
std::string_view OptionName(std::string_view argument) {
    if (argument.size() < 2 || argument[0] != '-')
        return {};
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    return argument.substr(0, argument.find('='));
}

} // namespace

CommandLine::CommandLine(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

std::optional<int> CommandLine::Handle(std::ostream& out, std::ostream& err) const {
    // Every argument is looked at before --help or --version answers, so that a
    // mistyped line is refused instead of half obeyed.
    bool help = false;
    bool version = false;
    for (size_t i = 1; i < m_arguments.size(); ++i) {
        const std::string& argument = m_arguments[i];
        if (argument == "-h" || argument == "--help") {
            help = true;
            continue;
        }
        if (argument == "-v" || argument == "--version") {
            version = true;
            continue;
        }
        std::string_view name = OptionName(argument);
        bool hasEquals = argument.find('=') != std::string::npos;
        if (hasEquals ? Contains(kQtOptionsWithEquals, name) : Contains(kQtFlags, name))
            continue;
        if (!hasEquals && Contains(kQtOptionsWithValue, name)) {
            if (++i == m_arguments.size()) {
                err << ProgramName() << ": option '" << argument << "' needs a value\n";
                return kUsageError;
            }
            continue;
        }
        err << ProgramName() << ": "
            << (name.empty() ? "unexpected argument '" : "unknown option '") << argument
            << "'\nTry '" << ProgramName() << " --help' for more information.\n";
        return kUsageError;
    }
    if (help)
        PrintHelp(out);
    else if (version)
        out << "Tesmara Screen Recorder " TESMARA_VERSION "\n";
    else
        return std::nullopt;
    return 0;
}

void CommandLine::ExportDisplay() const {
    for (size_t i = 1; i + 1 < m_arguments.size(); ++i)
        if (OptionName(m_arguments[i]) == "display" &&
            m_arguments[i].find('=') == std::string::npos)
            setenv("DISPLAY", m_arguments[i + 1].c_str(), 1);
}

std::string CommandLine::ProgramName() const {
    if (m_arguments.empty())
        return "tesmara-screen-recorder";
    return m_arguments[0].substr(m_arguments[0].rfind('/') + 1);
}

void CommandLine::PrintHelp(std::ostream& out) const {
    out << "Usage: " << ProgramName() << " [OPTION]...\n"
        << "Free screen recorder with mouse clicks: records the primary screen into an AVI\n"
           "file, marking left and right mouse presses. F9 or the tray icon stops.\n\n"
           "  -h, --help         show this help and exit\n"
           "  -v, --version      show the version and exit\n\n"
           "Qt's own options are taken as well, for example:\n"
           "  -display DISPLAY   the X display to use\n"
           "  -platform NAME     the window-system plug-in (xcb)\n"
           "  -style STYLE       the widget style\n\n"
           "Settings: $XDG_CONFIG_HOME/Tesmara Screen Recorder/settings\n";
}
