#pragma once

#include "advert/Advert.h"

#include <mutex>
#include <optional>

// Carries an advertisement from a worker thread to the banner on the UI thread.
// The worker shares ownership of this object, never of the banner, and touches
// nothing of Qt: it leaves the picture and link here under a lock and wakes the UI
// thread through a descriptor that the banner watches. Once the banner has detached,
// deliveries are dropped.
class BannerHandOver {
public:
    BannerHandOver();
    ~BannerHandOver();
    BannerHandOver(const BannerHandOver&) = delete;
    BannerHandOver& operator=(const BannerHandOver&) = delete;

    // Becomes readable when an advertisement waits; -1 if none could be made.
    int WakeDescriptor() const { return m_wakeDescriptor; }

    // Any thread: leaves the advertisement for the banner, if the banner still exists.
    void Deliver(Advert advert);
    // The banner's thread, when the descriptor is readable: the waiting advertisement.
    std::optional<Advert> Take();
    // The banner's thread, before the banner goes.
    void Detach();

private:
    std::mutex m_mutex;
    bool m_attached = true;
    std::optional<Advert> m_waiting;
    int m_wakeDescriptor;
};
