#include "hooklib/InputEventStream.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

bool IsPress(const input_event& event) {
    return event.type == EV_KEY && event.value == 1 &&
           (event.code == BTN_LEFT || event.code == BTN_RIGHT);
}

} // namespace

InputEventStream::InputEventStream(std::string name, UniqueFd fd)
    : m_name(std::move(name)), m_fd(std::move(fd)) {}

InputEventStream::~InputEventStream() {
    explicit_bzero(&m_partial, sizeof m_partial);
}

bool InputEventStream::ReadPresses(std::vector<unsigned>& presses) {
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
                TakeRecord(presses);
        }
        explicit_bzero(buffer.data(), static_cast<size_t>(got));
    }
}

void InputEventStream::TakeRecord(std::vector<unsigned>& presses) {
    if (IsPress(m_partial))
        presses.push_back(m_partial.code);
    explicit_bzero(&m_partial, sizeof m_partial);
    m_partialBytes = 0;
}
