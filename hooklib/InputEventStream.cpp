#include "hooklib/InputEventStream.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kReleased = 0;
constexpr int kPressed = 1;

bool IsKept(const input_event& event, InputDeviceKind kind) {
    if (event.type != EV_KEY)
        return false;
    if (kind == InputDeviceKind::Pointer)
        return event.value == kPressed && (event.code == BTN_LEFT || event.code == BTN_RIGHT);
    return (event.value == kPressed || event.value == kReleased) && event.code != KEY_RESERVED &&
           event.code <= kLastNamedKey;
}

} // namespace

InputEventStream::InputEventStream(std::string name, UniqueFd fd, InputDeviceKind kind)
    : m_name(std::move(name)), m_fd(std::move(fd)), m_kind(kind) {}

InputEventStream::~InputEventStream() {
    explicit_bzero(&m_partial, sizeof m_partial);
    explicit_bzero(m_held.data(), m_held.size() * sizeof(unsigned));
}

bool InputEventStream::Read(std::vector<KeyRecord>& kept) {
    std::array<char, 64 * sizeof(input_event)> buffer;
    for (;;) {
        const ssize_t got = read(m_fd.get(), buffer.data(), buffer.size());
        if (got == 0)
            return false;
        if (got < 0) {
            const bool waiting = errno == EAGAIN || errno == EINTR;
            explicit_bzero(buffer.data(), buffer.size());
            return waiting;
        }
        for (size_t used = 0; used < static_cast<size_t>(got);) {
            const size_t part = std::min(sizeof m_partial - m_partialBytes, got - used);
            std::memcpy(reinterpret_cast<char*>(&m_partial) + m_partialBytes, &buffer[used], part);
            m_partialBytes += part;
            used += part;
            if (m_partialBytes == sizeof m_partial)
                TakeRecord(kept);
        }
        explicit_bzero(buffer.data(), static_cast<size_t>(got));
    }
}

void InputEventStream::AppendReleases(std::vector<KeyRecord>& kept) const {
    for (unsigned code : m_held)
        kept.push_back({code, false});
}

void InputEventStream::TakeRecord(std::vector<KeyRecord>& kept) {
    if (IsKept(m_partial, m_kind)) {
        kept.push_back({m_partial.code, m_partial.value == kPressed});
        // A pointer's releases are not kept, so neither are its buttons held.
        if (m_kind == InputDeviceKind::Keyboard)
            Hold(kept.back());
    }
    explicit_bzero(&m_partial, sizeof m_partial);
    m_partialBytes = 0;
}

// A released key's place is wiped, like everything else read.
void InputEventStream::Hold(const KeyRecord& record) {
    const auto held = std::find(m_held.begin(), m_held.end(), record.code);
    if (record.pressed && held == m_held.end()) {
        m_held.push_back(record.code);
    } else if (!record.pressed && held != m_held.end()) {
        *held = m_held.back();
        m_held.back() = 0;
        m_held.pop_back();
    }
}
