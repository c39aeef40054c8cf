#include "settings/Settings.h"

#include "settings/Escaping.h"
#include "settings/FileSystem.h"
#include "settings/Folders.h"
#include "settings/Utf16.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstdio>
#include <exception>

namespace {

// Far beyond any settings file this program writes; a bigger file is not ours.
constexpr size_t kMaxFileBytes = 1 << 20;

constexpr int32_t kLoadedFrameRate = 18;
constexpr int32_t kLoadedFlag = 1;

// CR LF and bare LF both end a line; keeping the line ends is what lets a "//"
// comment stop at the end of its own line.
std::string WithUnixLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    }
    return out;
}

bool ParseObject(const std::string& text, Json::Value& root) {
    try {
        Json::Reader reader;
        return reader.parse(text, root, true) && root.isObject();
    } catch (const std::exception&) {
        return false; // nesting deeper than the reader's limit
    }
}

// Each loader takes the member when it has a usable type, takes the default when
// the member is missing, and otherwise leaves the current value alone.
void LoadFlag(const Json::Value& root, const char* name, int32_t& flag,
              int32_t missing = kLoadedFlag) {
    const Json::Value& member = root[name];
    if (!root.isMember(name))
        flag = missing;
    else if (member.isBool() || member.isNumeric())
        flag = member.asBool() ? 1 : 0;
}

void LoadFrameRate(const Json::Value& root, int32_t& frameRate) {
    const Json::Value& member = root["frameRate"];
    if (!root.isMember("frameRate"))
        frameRate = kLoadedFrameRate;
    else if (member.isNumeric() && member.isConvertibleTo(Json::intValue))
        frameRate = member.asInt();
}

void LoadText(const Json::Value& root, const char* name, std::u16string& text) {
    const Json::Value& member = root[name];
    if (!root.isMember(name))
        text.clear();
    else if (member.isString())
        text = UnescapeString(FromUtf8(member.asString()));
}

// A missing member is 0 (off); a number out of range is brought into it, which
// is said on the standard error.
void LoadSeconds(const Json::Value& root, const char* name, int32_t& seconds, int32_t longest) {
    const Json::Value& member = root[name];
    if (!root.isMember(name)) {
        seconds = 0;
        return;
    }
    if (!member.isNumeric())
        return;
    const double value = member.asDouble();
    seconds = value < 0 ? 0 : value > longest ? longest : static_cast<int32_t>(value);
    if (value != seconds)
        std::fprintf(stderr, "settings: \"%s\" is %g; %d seconds are used instead\n", name, value,
                     seconds);
}

// The region's four numbers; anything else leaves an empty region, which lies on no screen.
AreaRegion LoadRegion(const Json::Value& member) {
    if (!member.isArray() || member.size() != 4)
        return {};
    for (const Json::Value& number : member)
        if (!number.isNumeric() || !number.isConvertibleTo(Json::intValue))
            return {};
    return {member[0].asInt(), member[1].asInt(), member[2].asInt(), member[3].asInt()};
}

// Only the offered heights; anything else records at the picture's own size.
void LoadScale(const Json::Value& root, int32_t& scale) {
    const Json::Value& member = root["scale"];
    const int32_t height =
        member.isNumeric() && member.isConvertibleTo(Json::intValue) ? member.asInt() : 0;
    scale = height == 1080 || height == 720 ? height : 0;
}

void LoadArea(const Json::Value& root, AreaChoice& area) {
    const Json::Value& kind = root["area"];
    const auto named = kind.isString() ? AreaKindNamed(kind.asString()) : std::nullopt;
    area.kind = named.value_or(AreaKind::Primary);
    const Json::Value& monitor = root["monitor"];
    area.monitor = monitor.isString() ? monitor.asString() : std::string();
    area.region = LoadRegion(root["region"]);
}

Json::Value RegionJson(const AreaRegion& region) {
    Json::Value numbers(Json::arrayValue);
    for (const int32_t number : {region.x, region.y, region.width, region.height})
        numbers.append(number);
    return numbers;
}

} // namespace

CSettings::CSettings() : path(GetFolder(FOLDER_PERSONAL) + u"/Screen Video/") {}

std::u16string CSettings::FilePath() {
    return GetFolder(FOLDER_APPDATA) + u"/Tesmara Screen Recorder/settings";
}

void CSettings::Load() {
    const auto text = files::ReadSmallFile(ToUtf8(FilePath()), kMaxFileBytes);
    Json::Value root;
    if (!text || text->empty() || !ParseObject(WithUnixLineEnds(*text), root))
        return;
    LoadFlag(root, "leftClick", leftClick);
    LoadFlag(root, "rightClick", rightClick);
    LoadText(root, "codec", codec);
    LoadText(root, "path", path);
    LoadFrameRate(root, frameRate);
    LoadFlag(root, "microphone", microphone, 0);
    LoadFlag(root, "desktopSound", desktopSound, 0);
    LoadFlag(root, "showKeys", showKeys, 0);
    LoadFlag(root, "showTypedKeys", showTypedKeys, 0);
    LoadSeconds(root, "countdown", countdown, kLongestCountdown);
    LoadSeconds(root, "stopAfter", stopAfter, kLongestStopAfter);
    LoadArea(root, area);
    LoadScale(root, scale);
}

bool CSettings::Save() {
    const std::string file = ToUtf8(FilePath());
    // A fresh account may lack the config home itself; the XDG rules make it private.
    return files::MakeFolders(files::FolderOf(file), 0700) &&
           files::ReplaceFile(file, Json::StyledWriter().write(ToJson()));
}

Json::Value CSettings::ToJson() {
    Json::Value root;
    root["frameRate"] = frameRate;
    root["leftClick"] = leftClick;
    root["rightClick"] = rightClick;
    root["codec"] = ToUtf8(EscapeString(codec));
    // The dialog hands back the full file path; the next run starts from its folder.
    root["path"] = ToUtf8(EscapeString(DirectoryOf(path)));
    root["microphone"] = microphone;
    root["desktopSound"] = desktopSound;
    root["showKeys"] = showKeys;
    root["showTypedKeys"] = showTypedKeys;
    root["countdown"] = countdown;
    root["stopAfter"] = stopAfter;
    root["area"] = AreaKindName(area.kind);
    root["monitor"] = area.monitor;
    root["region"] = RegionJson(area.region);
    root["scale"] = scale;
    return root;
}
