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
// a full disk midway leaves the old file whole. A symbolic link is followed, so the
// file it points at is the one replaced.
bool ReplaceFile(const std::string& path, const std::string& contents);

} // namespace files
