#include "advert/DaltropBanner.h"

CDaltropBanner::CDaltropBanner(QWidget* parent) : QWidget(parent) {}

void CDaltropBanner::SetAdvert(const QString& imagePath, const QString& link) {
    m_imagePath = imagePath;
    m_link = link;
    update();
}
