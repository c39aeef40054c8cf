#pragma once

#include <QObject>
#include <bitset>
#include <memory>

class QSocketNotifier;
struct _XDisplay;

// The recording's global hot keys: F9, pressed without Shift, Ctrl, Alt or a logo
// key, and Ctrl+F9 (with Ctrl alone); the lock keys (NumLock, CapsLock,
// ScrollLock) do not matter. The keys are grabbed on the root window over a
// connection of its own. When another client already holds a grab, the keys are
// found among the raw key presses instead, so that F9 still stops a recording.
class HotKey : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned kIdentifier = 100;
    static constexpr unsigned kVirtualKeyF9 = 0x78;
    // The modifiers a hot-key message carries for Ctrl+F9.
    static constexpr unsigned kModifierControl = 0x0002;

    explicit HotKey(QObject* parent = nullptr);
    ~HotKey() override;

    // Grabs the key on the default display; a registered key is released first.
    // False when the display or the key cannot be reached at all.
    bool Register();
    // Releases the key; presses still queued are dropped. Safe to repeat.
    void Unregister();

    bool IsRegistered() const { return m_display != nullptr; }
    // True when another client held the grab and raw key presses are watched.
    bool WatchesRawKeys() const { return m_rawKeys; }

signals:
    // identifier, modifier keys and virtual key, as a hot-key message carries them.
    void activated(unsigned identifier, unsigned modifiers, unsigned virtualKey);

private:
    struct DisplayCloser {
        void operator()(_XDisplay* display) const;
    };

    bool grabOnRoot();
    bool watchRawKeys();
    void learnModifierKeys();
    void readEvents();
    void handleEvent(void* event);
    void handleRawKey(int type, int keycode);
    void announce(unsigned modifiers);

    std::unique_ptr<_XDisplay, DisplayCloser> m_display;
    std::unique_ptr<QSocketNotifier> m_notifier;
    unsigned m_generation = 0;
    int m_keycode = 0;
    int m_xinputOpcode = -1;
    bool m_rawKeys = false;
    std::bitset<256> m_modifierKeys; // Shift, Ctrl, Alt, logo keys: not the locks
    std::bitset<256> m_controlKeys;
    std::bitset<256> m_heldKeys;
};
