#include "advert/BannerHandOver.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

BannerHandOver::BannerHandOver() : m_wakeDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

BannerHandOver::~BannerHandOver() {
    if (m_wakeDescriptor >= 0)
        close(m_wakeDescriptor);
}

void BannerHandOver::Deliver(Advert advert) {
    std::lock_guard lock(m_mutex);
    if (!m_attached)
        return;
    m_waiting = std::move(advert);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wakeDescriptor, &one, sizeof one);
}

std::optional<Advert> BannerHandOver::Take() {
    std::uint64_t wakes = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_wakeDescriptor, &wakes, sizeof wakes);
    std::lock_guard lock(m_mutex);
    return std::exchange(m_waiting, std::nullopt);
}

void BannerHandOver::Detach() {
    std::lock_guard lock(m_mutex);
    m_attached = false;
}
