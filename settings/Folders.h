#pragma once

#include <string>

enum FolderKind {
    FOLDER_TEMP = 1001,     // the user's private temporary folder
    FOLDER_PERSONAL = 1002, // the documents folder
    FOLDER_APPDATA = 1003,  // the configuration home
};

// The folder of a kind, without a trailing '/'; empty when it cannot be found.
std::u16string GetFolder(int kind);
std::u16string GetTempFolder();
// The running program's folder, ending in '/'.
std::u16string GetModuleFolder();
// Everything before the last path component; a trailing '/' belongs to that component.
std::u16string DirectoryOf(const std::u16string& path);
