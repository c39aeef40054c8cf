#include "settings/Settings.h"

#include "settings/Folders.h"

CSettings::CSettings() : path(GetFolder(FOLDER_PERSONAL) + u"/Screen Video/") {}

std::u16string CSettings::FilePath() {
    return GetFolder(FOLDER_APPDATA) + u"/Tesmara Screen Recorder/settings";
}

void CSettings::Load() {}
void CSettings::Save() {}
Json::Value CSettings::ToJson() { return Json::Value(); }
