#pragma once

#include <QString>
#include <mutex>

class CDaltropBanner;

// Carries an advertisement from a worker thread to the banner on the UI thread.
// The worker shares ownership of this object, never of the banner: once the banner
// has detached, deliveries are dropped, and a delivery already queued is discarded
// by Qt together with the banner.
class BannerHandOver {
public:
    explicit BannerHandOver(CDaltropBanner* banner) : m_banner(banner) {}

    // Any thread: queues SetAdvert on the banner's thread if the banner still exists.
    void Deliver(const QString& imagePath, const QString& link);
    // The banner's thread, before the banner goes.
    void Detach();

private:
    std::mutex m_mutex;
    CDaltropBanner* m_banner;
};
