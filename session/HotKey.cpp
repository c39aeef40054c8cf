#include "session/HotKey.h"

#include "session/ApplicationDisplay.h"

#include <QSocketNotifier>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <set>

namespace {

// A grab that another client holds fails with BadAccess. Xlib's default handler
// would end the process, so grabs are made under this handler, which notes it.
bool g_accessDenied = false;

int noteAccessDenied(Display*, XErrorEvent* error) {
    if (error->error_code == BadAccess)
        g_accessDenied = true;
    return 0;
}

unsigned modifierMaskOf(Display* display, KeySym keysym) {
    KeyCode keycode = XKeysymToKeycode(display, keysym);
    XModifierKeymap* map = XGetModifierMapping(display);
    unsigned mask = 0;
    for (int index = 0; map && keycode != 0 && index < 8; ++index)
        for (int k = 0; k < map->max_keypermod; ++k)
            if (map->modifiermap[index * map->max_keypermod + k] == keycode)
                mask = 1u << index;
    if (map)
        XFreeModifiermap(map);
    return mask;
}

// Every combination of the lock modifiers, the empty one included.
std::set<unsigned> lockCombinations(Display* display) {
    const unsigned locks[] = {LockMask, modifierMaskOf(display, XK_Num_Lock),
                              modifierMaskOf(display, XK_Scroll_Lock)};
    std::set<unsigned> combinations;
    for (unsigned subset = 0; subset < 8; ++subset) {
        unsigned mask = 0;
        for (unsigned bit = 0; bit < 3; ++bit)
            if (subset & (1u << bit))
                mask |= locks[bit];
        combinations.insert(mask);
    }
    return combinations;
}

// The server the application shows its windows on, which a -display option may
// have chosen; the environment's otherwise.
const char* applicationDisplayName() {
    Display* display = ApplicationDisplay();
    return display ? DisplayString(display) : nullptr;
}

bool isLockKey(Display* display, KeyCode keycode) {
    for (KeySym lock : {XK_Num_Lock, XK_Caps_Lock, XK_Scroll_Lock, XK_Shift_Lock})
        if (XKeysymToKeycode(display, lock) == keycode)
            return true;
    return false;
}

} // namespace

void HotKey::DisplayCloser::operator()(_XDisplay* display) const {
    XCloseDisplay(display);
}

HotKey::HotKey(QObject* parent) : QObject(parent) {}

HotKey::~HotKey() {
    Unregister();
}

bool HotKey::Register() {
    Unregister();
    ++m_generation;
    m_display.reset(XOpenDisplay(applicationDisplayName()));
    if (!m_display)
        return false;
    m_keycode = XKeysymToKeycode(m_display.get(), XK_F9);
    if (m_keycode == 0 || (!grabOnRoot() && !watchRawKeys())) {
        Unregister();
        return false;
    }
    m_notifier =
        std::make_unique<QSocketNotifier>(ConnectionNumber(m_display.get()), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &HotKey::readEvents);
    readEvents();
    return true;
}

void HotKey::Unregister() {
    // Closing the connection releases its grabs and selections with it.
    m_notifier.reset();
    m_display.reset();
    m_rawKeys = false;
    m_heldKeys.reset();
}

bool HotKey::grabOnRoot() {
    Display* display = m_display.get();
    Window root = DefaultRootWindow(display);
    XErrorHandler previous = XSetErrorHandler(noteAccessDenied);
    g_accessDenied = false;
    for (unsigned modifiers : lockCombinations(display))
        for (unsigned control : {0u, unsigned(ControlMask)})
            XGrabKey(display, m_keycode, modifiers | control, root, False, GrabModeAsync,
                     GrabModeAsync);
    XSync(display, False);
    bool granted = !g_accessDenied;
    if (!granted) {
        // Half a grab would report some presses twice once raw keys are watched.
        XUngrabKey(display, m_keycode, AnyModifier, root);
        XSync(display, False);
    }
    XSetErrorHandler(previous);
    return granted;
}

bool HotKey::watchRawKeys() {
    Display* display = m_display.get();
    int event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &m_xinputOpcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success)
        return false;
    // Raw events came with XInput 2.1; asking an older server for them is an
    // error that Xlib would turn into the end of the program.
    if (major == 2 && minor < 1)
        return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    learnModifierKeys();
    XSync(display, False);
    m_rawKeys = true;
    return true;
}

// Raw key events carry no modifier state, so the held modifier keys are followed
// from the events themselves, starting from the keyboard's state now.
void HotKey::learnModifierKeys() {
    Display* display = m_display.get();
    m_modifierKeys.reset();
    m_controlKeys.reset();
    m_heldKeys.reset();
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map)
        return;
    for (int index = ShiftMapIndex; index <= Mod5MapIndex; ++index) {
        if (index == LockMapIndex)
            continue;
        for (int k = 0; k < map->max_keypermod; ++k) {
            KeyCode keycode = map->modifiermap[index * map->max_keypermod + k];
            if (keycode == 0 || isLockKey(display, keycode))
                continue;
            m_modifierKeys.set(keycode);
            if (index == ControlMapIndex)
                m_controlKeys.set(keycode);
        }
    }
    XFreeModifiermap(map);
    char keys[32] = {};
    XQueryKeymap(display, keys);
    for (int keycode = 0; keycode < 256; ++keycode)
        if (keys[keycode / 8] & (1 << (keycode % 8)))
            m_heldKeys.set(keycode);
}

void HotKey::readEvents() {
    Display* display = m_display.get();
    while (display && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handleEvent(&event);
    }
}

void HotKey::handleEvent(void* rawEvent) {
    auto* event = static_cast<XEvent*>(rawEvent);
    if (event->type == KeyPress && static_cast<int>(event->xkey.keycode) == m_keycode) {
        announce(event->xkey.state & ControlMask ? kModifierControl : 0);
        return;
    }
    XGenericEventCookie* cookie = &event->xcookie;
    if (event->type != GenericEvent || cookie->extension != m_xinputOpcode ||
        !XGetEventData(m_display.get(), cookie))
        return;
    handleRawKey(cookie->evtype, static_cast<XIRawEvent*>(cookie->data)->detail);
    XFreeEventData(m_display.get(), cookie);
}

void HotKey::handleRawKey(int type, int keycode) {
    if (keycode < 0 || keycode >= 256)
        return;
    if (type == XI_RawKeyRelease) {
        m_heldKeys.reset(keycode);
        return;
    }
    if (type != XI_RawKeyPress)
        return;
    const std::bitset<256> heldModifiers = m_heldKeys & m_modifierKeys;
    if (keycode == m_keycode && heldModifiers.none())
        announce(0);
    else if (keycode == m_keycode && (heldModifiers & ~m_controlKeys).none())
        announce(kModifierControl);
    m_heldKeys.set(keycode);
}

// Delivered from the event loop, not from inside the read: the receiver usually
// unregisters the key, which closes the connection being read. A press left over
// from an earlier registration is dropped.
void HotKey::announce(unsigned modifiers) {
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation, modifiers] {
            if (IsRegistered() && generation == m_generation)
                emit activated(kIdentifier, modifiers, kVirtualKeyF9);
        },
        Qt::QueuedConnection);
}
