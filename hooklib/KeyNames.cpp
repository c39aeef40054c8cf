#include "hooklib/KeyNames.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <array>
#include <cctype>
#include <utility>

namespace keynames {

namespace {

constexpr uint32_t kCommandModifiers = kControl | kAlt | kSuper;
// Unicode keysyms carry the code point in their low 24 bits.
constexpr unsigned long kUnicodeKeysyms = 0x01000000;

// The keys that type no text, by the name they are shown with.
constexpr std::array<std::pair<unsigned long, const char*>, 19> kSpecialKeys{{
    {XK_Return, "Enter"},  {XK_KP_Enter, "Enter"},   {XK_Escape, "Esc"},
    {XK_Tab, "Tab"},       {XK_ISO_Left_Tab, "Tab"}, {XK_BackSpace, "Backspace"},
    {XK_Delete, "Delete"}, {XK_Insert, "Insert"},    {XK_Home, "Home"},
    {XK_End, "End"},       {XK_Prior, "PgUp"},       {XK_Next, "PgDn"},
    {XK_Left, "\u2190"},   {XK_Up, "\u2191"},        {XK_Right, "\u2192"},
    {XK_Down, "\u2193"},   {XK_Print, "Print"},      {XK_Pause, "Pause"},
    {XK_Menu, "Menu"},
}};

const char* SpecialName(unsigned long keysym) {
    for (const auto& [special, name] : kSpecialKeys)
        if (special == keysym)
            return name;
    return nullptr;
}

bool IsFunctionKey(unsigned long keysym) {
    return keysym >= XK_F1 && keysym <= XK_F35;
}

// The character a keysym types; 0 for none. Latin-1 keysyms are their code
// points, newer ones carry theirs.
char32_t CharacterOf(unsigned long keysym) {
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return char32_t(keysym);
    if ((keysym & 0xff000000) == kUnicodeKeysyms)
        return char32_t(keysym & 0x00ffffff);
    return 0;
}

void AppendUtf8(std::string& text, char32_t c) {
    if (c < 0x80) {
        text += char(c);
    } else if (c < 0x800) {
        text += char(0xc0 | (c >> 6));
        text += char(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        text += char(0xe0 | (c >> 12));
        text += char(0x80 | ((c >> 6) & 0x3f));
        text += char(0x80 | (c & 0x3f));
    } else {
        text += char(0xf0 | (c >> 18));
        text += char(0x80 | ((c >> 12) & 0x3f));
        text += char(0x80 | ((c >> 6) & 0x3f));
        text += char(0x80 | (c & 0x3f));
    }
}

// In a combination a letter reads as on the key cap: Ctrl+Z, not Ctrl+z.
std::string KeyName(unsigned long keysym, bool inCombination) {
    if (const char* special = SpecialName(keysym))
        return special;
    if (IsFunctionKey(keysym))
        return "F" + std::to_string(keysym - XK_F1 + 1);
    if (keysym == XK_space)
        return inCombination ? "Space" : " ";
    char32_t c = CharacterOf(keysym);
    if (c == 0) {
        const char* name = XKeysymToString(keysym);
        return name ? name : "?";
    }
    if (inCombination && c < 0x80)
        c = char32_t(std::toupper(int(c)));
    std::string text;
    AppendUtf8(text, c);
    return text;
}

} // namespace

uint32_t ModifierOf(unsigned long keysym) {
    switch (keysym) {
    case XK_Control_L:
    case XK_Control_R:
        return kControl;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
        return kAlt;
    case XK_Super_L:
    case XK_Super_R:
    case XK_Hyper_L:
    case XK_Hyper_R:
        return kSuper;
    case XK_Shift_L:
    case XK_Shift_R:
        return kShift;
    default:
        return 0;
    }
}

bool TypesText(unsigned long keysym, uint32_t modifiers) {
    return (modifiers & kCommandModifiers) == 0 && CharacterOf(keysym) != 0;
}

bool IsShown(unsigned long keysym, uint32_t modifiers, KeyShowing showing) {
    if (showing == KeyShowing::Off || ModifierOf(keysym) != 0 || keysym == NoSymbol)
        return false;
    if ((modifiers & kCommandModifiers) != 0 || SpecialName(keysym) || IsFunctionKey(keysym))
        return true;
    return showing == KeyShowing::Everything;
}

std::string CaptionText(unsigned long keysym, uint32_t modifiers) {
    const bool combination = (modifiers & kCommandModifiers) != 0 || !TypesText(keysym, modifiers);
    if (!combination)
        return KeyName(keysym, false);
    std::string text;
    if (modifiers & kControl)
        text += "Ctrl+";
    if (modifiers & kAlt)
        text += "Alt+";
    if (modifiers & kSuper)
        text += "Super+";
    // Shift is part of a typed character, but said in a combination.
    if ((modifiers & kShift) &&
        (modifiers & kCommandModifiers || SpecialName(keysym) || IsFunctionKey(keysym)))
        text += "Shift+";
    return text + KeyName(keysym, true);
}

} // namespace keynames
