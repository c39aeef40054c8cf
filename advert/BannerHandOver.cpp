#include "advert/BannerHandOver.h"

#include "advert/DaltropBanner.h"

#include <QMetaObject>

// The lock is held while posting so that the banner cannot start its destruction
// between the check and the post.
void BannerHandOver::Deliver(const QString& imagePath, const QString& link) {
    std::lock_guard lock(m_mutex);
    if (!m_banner)
        return;
    CDaltropBanner* banner = m_banner;
    QMetaObject::invokeMethod(
        banner, [banner, imagePath, link] { banner->SetAdvert(imagePath, link); },
        Qt::QueuedConnection);
}

void BannerHandOver::Detach() {
    std::lock_guard lock(m_mutex);
    m_banner = nullptr;
}
