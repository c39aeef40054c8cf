#include "advert/DaltropBanner.h"

#include "advert/BannerHandOver.h"

#include <QColorSpace>
#include <QDesktopServices>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QUrl>

namespace {

QImage LoadInSrgb(const QString& path) {
    QImage picture = QImageReader(path).read();
    if (picture.isNull())
        return picture;
    picture.convertTo(picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_RGB32);
    const QColorSpace profile = picture.colorSpace();
    if (profile.isValid() && profile != QColorSpace(QColorSpace::SRgb))
        picture.convertToColorSpace(QColorSpace::SRgb);
    return picture;
}

} // namespace

CDaltropBanner::CDaltropBanner(QWidget* parent)
    : QWidget(parent), m_strLink(kMakerHomePage), m_handOver(std::make_shared<BannerHandOver>()),
      m_handOverWatch(
          std::make_unique<QSocketNotifier>(m_handOver->WakeDescriptor(), QSocketNotifier::Read)) {
    setCursor(Qt::PointingHandCursor);
    connect(m_handOverWatch.get(), &QSocketNotifier::activated, this,
            &CDaltropBanner::TakeHandedOverAdvert);
}

// A worker that finishes later finds the hand-over detached and leaves nothing.
CDaltropBanner::~CDaltropBanner() {
    m_handOver->Detach();
}

void CDaltropBanner::SetImage(const QString& path) {
    m_strImagePath = path;
    m_picture = LoadInSrgb(path);
    update();
}

void CDaltropBanner::SetAdvert(const QString& imagePath, const QString& link) {
    SetImage(imagePath);
    m_strLink = link;
}

void CDaltropBanner::TakeHandedOverAdvert() {
    if (const auto advert = m_handOver->Take())
        SetAdvert(QString::fromStdU16String(advert->imagePath),
                  QString::fromStdU16String(advert->link));
}

bool CDaltropBanner::IsWebLink(const QString& link) {
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

void CDaltropBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (m_picture.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), m_picture, QRectF(m_picture.rect()));
}

void CDaltropBanner::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        OpenLink();
    QWidget::mousePressEvent(event);
}

void CDaltropBanner::OpenLink() const {
    if (IsWebLink(m_strLink))
        QDesktopServices::openUrl(QUrl(m_strLink, QUrl::StrictMode));
}
