#pragma once

#include <cstdint>
#include <optional>

// Lets the user click the window to record: the pointer takes a cross shape over
// the whole screen, and a click picks the application's window under it (not
// the window manager's frame around it). Esc calls the pick off. Qt's events go
// on being answered meanwhile. Nothing when called off, or when the pointer
// cannot be had from whoever holds it.
std::optional<uint32_t> PickWindow();
