#include "settings/AreaChoice.h"

#include <array>
#include <charconv>
#include <utility>

namespace {

constexpr std::array<std::pair<AreaKind, const char*>, 5> kKindNames{{
    {AreaKind::Primary, "primary"},
    {AreaKind::All, "all"},
    {AreaKind::Monitor, "monitor"},
    {AreaKind::Region, "region"},
    {AreaKind::Window, "window"},
}};

// Reads a whole number and the character behind it; the text left after that.
std::optional<std::string_view> ReadNumber(std::string_view text, int32_t& number, char after) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end == text.data() + text.size() || *end != after)
        return std::nullopt;
    return text.substr(size_t(end - text.data()) + 1);
}

// "X,Y,WxH" with a size of at least one pixel each way.
std::optional<AreaRegion> ParseRegion(std::string_view text) {
    AreaRegion region;
    auto rest = ReadNumber(text, region.x, ',');
    if (rest)
        rest = ReadNumber(*rest, region.y, ',');
    if (rest)
        rest = ReadNumber(*rest, region.width, 'x');
    if (!rest)
        return std::nullopt;
    const auto [end, error] =
        std::from_chars(rest->data(), rest->data() + rest->size(), region.height);
    if (error != std::errc() || end != rest->data() + rest->size() || region.width <= 0 ||
        region.height <= 0)
        return std::nullopt;
    return region;
}

} // namespace

const char* AreaKindName(AreaKind kind) {
    for (const auto& [known, name] : kKindNames)
        if (known == kind)
            return name;
    return "primary";
}

std::optional<AreaKind> AreaKindNamed(std::string_view name) {
    for (const auto& [kind, known] : kKindNames)
        if (name == known)
            return kind;
    return std::nullopt;
}

std::optional<AreaChoice> ParseAreaChoice(std::string_view text) {
    const size_t colon = text.find(':');
    const std::optional<AreaKind> kind = AreaKindNamed(text.substr(0, colon));
    if (!kind)
        return std::nullopt;
    const std::string_view argument =
        colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    AreaChoice choice;
    choice.kind = *kind;
    switch (*kind) {
    case AreaKind::Monitor:
        if (argument.empty())
            return std::nullopt;
        choice.monitor = argument;
        return choice;
    case AreaKind::Region:
        if (const auto region = ParseRegion(argument)) {
            choice.region = *region;
            return choice;
        }
        return std::nullopt;
    default:
        if (colon != std::string_view::npos)
            return std::nullopt;
        return choice;
    }
}
