#pragma once

#include "hooklib/UniqueFd.h"

#include <cstddef>
#include <linux/input.h>
#include <string>
#include <vector>

// One source of the kernel's input event records (struct input_event): an input
// device, or a pipe that carries the same records. Of all it reads, only presses of
// the left and the right button are kept; every other record, key events above all,
// is wiped as soon as it has been looked at.
class InputEventStream {
public:
    // name: the device's entry in its folder ("event3"), empty for an unnamed source.
    InputEventStream(std::string name, UniqueFd fd);
    ~InputEventStream();
    InputEventStream(InputEventStream&&) noexcept = default;
    InputEventStream& operator=(InputEventStream&&) noexcept = default;

    const std::string& name() const { return m_name; }
    int fd() const { return m_fd.get(); }

    // Reads what is waiting and appends BTN_LEFT or BTN_RIGHT for each press, in
    // order. False once the source has ended (device unplugged, pipe closed).
    bool ReadPresses(std::vector<unsigned>& presses);

private:
    // Looks at the record just completed, then wipes it.
    void TakeRecord(std::vector<unsigned>& presses);

    std::string m_name;
    UniqueFd m_fd;
    // The record being put together: a pipe may deliver one in parts.
    input_event m_partial{};
    size_t m_partialBytes = 0;
};
