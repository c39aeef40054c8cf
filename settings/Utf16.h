#pragma once

#include <string>
#include <string_view>

// Text inside the program is UTF-16, as the settings file's escaping and the
// store's value names expect; file names and the X server speak UTF-8.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
