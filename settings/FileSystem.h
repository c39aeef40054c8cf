#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// The few file operations the settings module needs beyond the standard library:
// folders made with a chosen mode, and files replaced whole or not at all.
namespace files {

// The folder part of a file path: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

// Makes the folder and any missing folder above it.
bool MakeFolders(const std::string& path, mode_t mode);

// The contents of a regular file of at most maxBytes; empty when there is no such file.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t maxBytes);

// Writes contents to a new file beside path and renames it over path, so a crash or
// a full disk midway leaves the old file whole. Anything but a regular file of the
// user's own (a symbolic link, a folder, a device, another user's file) is left
// alone and the call fails.
bool ReplaceFile(const std::string& path, const std::string& contents);

} // namespace files
