#pragma once

#include <cstdint>
#include <string>

// Which keys a recording shows and how they read, by their X keysyms (the keyboard
// layout in use gives them, so letters read as typed). The helper sends only keys
// that may be shown; the dialog turns them into the caption drawn into the video.
namespace keynames {

// The modifiers held with a key, as the key message carries them.
enum KeyModifier : uint32_t { kControl = 1, kAlt = 2, kSuper = 4, kShift = 8 };

// What a recording shows of the keyboard; the helper reads it from the shared key.
enum class KeyShowing : uint32_t {
    Off = 0,       // no key is read at all
    Shortcuts = 1, // combinations with Ctrl, Alt or Super, and the keys that type no text
    Everything = 2 // typed text too
};

// The modifier bit of a modifier key, 0 for every other key.
uint32_t ModifierOf(unsigned long keysym);

// Whether a press may be shown: never a modifier alone; a combination with Ctrl,
// Alt or Super, or a key that types no text (Enter, Esc, Tab, Backspace, Delete,
// Insert, F-keys, arrows, Home, End, PgUp, PgDn); plain typed text only when
// showing Everything.
bool IsShown(unsigned long keysym, uint32_t modifiers, KeyShowing showing);

// A key that types text on its own: no Ctrl, Alt or Super, and a character.
bool TypesText(unsigned long keysym, uint32_t modifiers);

// The caption, UTF-8: "Ctrl+Shift+T", "Alt+Tab", "Esc", "F5", "←"; typed text as
// the character itself ("a", "A", "ß").
std::string CaptionText(unsigned long keysym, uint32_t modifiers);

} // namespace keynames
