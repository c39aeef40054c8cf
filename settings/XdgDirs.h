#pragma once

#include <string>

// The per-user folders of the XDG base-directory and user-dirs conventions, as
// file-system paths (UTF-8 bytes), without a trailing '/'.
namespace xdg {

std::string HomeDir();
// $var when it holds an absolute path, else $HOME/fallback.
std::string BaseDir(const char* var, const char* fallback);
std::string ConfigHome();
std::string DataHome();
// XDG_DOCUMENTS_DIR of <config home>/user-dirs.dirs, else $HOME/Documents.
std::string DocumentsDir();
// $TMPDIR, else $XDG_RUNTIME_DIR, else /tmp.
std::string TempDir();

} // namespace xdg
