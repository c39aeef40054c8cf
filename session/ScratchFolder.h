#pragma once

#include <string>

// The recording's scratch folder under the user's temporary folder. The temporary
// folder may be shared with other users, so the scratch folder is kept private:
// it is made 0700, a symbolic link in its place is never followed, and emptying it
// removes only regular files that belong to the user.
class ScratchFolder {
public:
    // GetTempFolder() followed by "/DaltropSC", UTF-8.
    static std::string Path();

    // Creates the folder when missing and deletes the user's regular files directly
    // inside it; sub-folders and their contents stay. False when the path is not a
    // directory of the user's (a link, a file, another user's folder).
    static bool Prepare(const std::string& path);
};
