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

void InputEventStream::TakeRecord(std::vector<KeyRecord>& kept) {
    if (IsKept(m_partial, m_kind))
        kept.push_back({m_partial.code, m_partial.value == kPressed});
    explicit_bzero(&m_partial, sizeof m_partial);
    m_partialBytes = 0;
}
