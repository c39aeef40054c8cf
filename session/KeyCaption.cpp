#include "session/KeyCaption.h"

#include "hooklib/KeyNames.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

// A run of typed text keeps its last characters.
constexpr int kLongestTypedRun = 32;
// The text is a twentieth of the frame high, never below what still reads.
constexpr int kFrameHeightsPerLine = 20;
constexpr int kSmallestPixelSize = 12;

} // namespace

CaptionPicture KeyCaption::Press(unsigned long keysym, uint32_t modifiers, int frameHeight,
                                 Clock::time_point now) {
    const bool showing = m_count > 0 && now - m_lastPress < kShowsFor;
    const QString name = QString::fromStdString(keynames::CaptionText(keysym, modifiers));
    if (keynames::TypesText(keysym, modifiers)) {
        m_text = (showing && m_typing ? m_text : QString()) + name;
        m_text = m_text.right(kLongestTypedRun);
        m_typing = true;
        m_combination.clear();
        m_count = 1;
    } else {
        m_count = showing && !m_typing && name == m_combination ? m_count + 1 : 1;
        m_combination = name;
        m_typing = false;
        m_text = m_count > 1 ? QStringLiteral("%1 x%2").arg(name).arg(m_count) : name;
    }
    m_lastPress = now;
    return Draw(m_text, frameHeight);
}

CaptionPicture KeyCaption::Draw(const QString& text, int frameHeight) {
    QFont font;
    font.setPixelSize(std::max(kSmallestPixelSize, frameHeight / kFrameHeightsPerLine));
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int padding = font.pixelSize() / 2;
    const QSize size(metrics.horizontalAdvance(text) + 2 * padding, metrics.height() + padding);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath box;
        box.addRoundedRect(QRectF(image.rect()), padding, padding);
        painter.fillPath(box, QColor(0, 0, 0, 170));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(image.rect(), Qt::AlignCenter, text);
    }
    CaptionPicture picture{size.width(), size.height(), {}};
    picture.pixels.resize(size_t(size.width()) * size_t(size.height()));
    for (int row = 0; row < size.height(); ++row) {
        const auto* line = reinterpret_cast<const uint32_t*>(image.constScanLine(row));
        std::copy(line, line + size.width(), picture.pixels.begin() + row * size.width());
    }
    return picture;
}
