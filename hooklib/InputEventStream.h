#pragma once

#include "hooklib/UniqueFd.h"

#include <cstddef>
#include <linux/input.h>
#include <string>
#include <vector>

// The two kinds of input device the helper reads, and what it reads them for.
enum class InputDeviceKind {
    Pointer, // presses of the left and the right button
    Keyboard // presses and releases of the keys that X can name
};

// A button or a key that went down or up, as a stream keeps it.
struct KeyRecord {
    unsigned code = 0; // BTN_LEFT, KEY_T, ...
    bool pressed = false;
};

// One source of the kernel's input event records (struct input_event): an input
// device, or a pipe that carries the same records. Of all it reads, only what its
// kind is read for is kept (a key held down repeats, but a repeat is no new press);
// every other record is wiped as soon as it has been looked at.
class InputEventStream {
public:
    // name: the device's entry in its folder ("event3"), empty for an unnamed source.
    InputEventStream(std::string name, UniqueFd fd, InputDeviceKind kind);
    ~InputEventStream();
    InputEventStream(InputEventStream&&) noexcept = default;
    InputEventStream& operator=(InputEventStream&&) noexcept = default;

    const std::string& name() const { return m_name; }
    int fd() const { return m_fd.get(); }

    // Reads what is waiting and appends what is kept, in order. False once the
    // source has ended (device unplugged, pipe closed).
    bool Read(std::vector<KeyRecord>& kept);
    // A keyboard's keys pressed and not released yet, as releases: what its end
    // lets go of (a modifier held while it is unplugged would stay held).
    void AppendReleases(std::vector<KeyRecord>& kept) const;

private:
    // Looks at the record just completed, then wipes it.
    void TakeRecord(std::vector<KeyRecord>& kept);
    void Hold(const KeyRecord& record);

    std::string m_name;
    UniqueFd m_fd;
    InputDeviceKind m_kind;
    // The record being put together: a pipe may deliver one in parts.
    input_event m_partial{};
    size_t m_partialBytes = 0;
    std::vector<unsigned> m_held; // a keyboard's keys down now
};

// XKB numbers keys as the kernel does, plus 8, up to 255: the key codes beyond
// kLastNamedKey have no X keycode and so no name.
constexpr unsigned kXKeycodeOffset = 8;
constexpr unsigned kLastNamedKey = 255 - kXKeycodeOffset;
