#pragma once

#include <string>

// Puts what was written to a file, or the entries of the folder holding a path,
// on the disk, so that they outlive a power cut. False when that failed.
bool SyncFile(const std::string& path);
bool SyncFolderOf(const std::string& path);
