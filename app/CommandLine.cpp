#include "app/CommandLine.h"

#include "settings/AreaChoice.h"
#include "settings/Settings.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
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

using Command = RemoteRequest::Command;

// A whole number of seconds up to longest; nothing for anything else.
std::optional<unsigned> ParseSeconds(const std::string& text, unsigned longest) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long seconds = std::stoul(text);
    if (seconds > longest)
        return std::nullopt;
    return static_cast<unsigned>(seconds);
}

} // namespace

CommandLine::CommandLine(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

std::optional<int> CommandLine::Handle(std::ostream& out, std::ostream& err) {
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
        std::string remoteError;
        if (TakeRemoteArgument(i, remoteError)) {
            if (remoteError.empty())
                continue;
            err << ProgramName() << ": " << remoteError << "\nTry '" << ProgramName()
                << " --help' for more information.\n";
            return kUsageError;
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
    if (const std::string wrong = CheckRemoteRequest(); !wrong.empty() && !help && !version) {
        err << ProgramName() << ": " << wrong << "\n";
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

bool CommandLine::TakeRemoteArgument(size_t& i, std::string& error) {
    static const std::pair<const char*, Command> kCommands[] = {
        {"--start", Command::Start},
        {"--stop", Command::Stop},
        {"--toggle-pause", Command::TogglePause},
        {"--status", Command::Status}};
    const std::string& argument = m_arguments[i];
    for (const auto& [name, command] : kCommands) {
        if (argument != name)
            continue;
        if (m_remote.command != Command::None)
            error = "only one of --start, --stop, --toggle-pause and --status at a time";
        m_remote.command = command;
        return true;
    }
    if (argument != "--output" && argument != "--stop-after" && argument != "--area")
        return false;
    m_startOptions = true;
    if (++i == m_arguments.size()) {
        error = "option '" + argument + "' needs a value";
        return true;
    }
    const std::string& value = m_arguments[i];
    if (argument == "--output") {
        std::error_code ignored;
        m_remote.output = std::filesystem::absolute(value, ignored).string();
        return true;
    }
    if (argument == "--area") {
        if (!ParseAreaChoice(value))
            error = "--area takes primary, all, monitor:NAME, region:X,Y,WxH or window, not '" +
                    value + "'";
        m_remote.area = value;
        return true;
    }
    constexpr auto longest = static_cast<unsigned>(CSettings::kLongestStopAfter);
    const std::optional<unsigned> seconds = ParseSeconds(value, longest);
    if (!seconds)
        error = "--stop-after takes whole seconds from 0 to " + std::to_string(longest) +
                ", not '" + value + "'";
    m_remote.stopAfterSeconds = seconds.value_or(0);
    return true;
}

std::string CommandLine::CheckRemoteRequest() const {
    if (m_startOptions && m_remote.command != Command::Start)
        return "--output, --stop-after and --area go with --start only";
    return {};
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
           "Commands for the recorder that runs in this session (over the session bus):\n"
           "  --start            start recording; starts the recorder if none runs\n"
           "    --output FILE      record into FILE instead of the dialog's path\n"
           "    --stop-after SECONDS  stop after that much recorded time\n"
           "    --area AREA        record primary (the primary screen), all (all screens),\n"
           "                       monitor:NAME, region:X,Y,WxH or window (click the window)\n"
           "                       instead of the dialog's choice\n"
           "  --stop             stop the recording and save the file\n"
           "  --toggle-pause     pause the recording, or resume it when paused\n"
           "  --status           print idle, recording or paused\n"
           "A command that cannot be done says why and exits with status 1.\n\n"
           "Qt's own options are taken as well, for example:\n"
           "  -display DISPLAY   the X display to use\n"
           "  -platform NAME     the window-system plug-in (xcb)\n"
           "  -style STYLE       the widget style\n\n"
           "Settings: $XDG_CONFIG_HOME/Tesmara Screen Recorder/settings\n";
}
