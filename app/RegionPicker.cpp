#include "app/RegionPicker.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace {

constexpr int kFrameWidth = 2;
const QColor kFrameColour(255, 64, 0);
const QColor kShade(0, 0, 0, 110);
// At most this much of the screen's room for a still shown in a window.
constexpr double kStillShare = 0.9;

// Over every window, without the window manager's frame or focus rules.
constexpr Qt::WindowFlags kOverlayFlags =
    Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint | Qt::Tool;

QRect EvenSized(const QRect& rect) {
    return {rect.x(), rect.y(), rect.width() & ~1, rect.height() & ~1};
}

} // namespace

QRect RecordedRegion(const QRect& region) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? EvenSized(region & screen->virtualGeometry()) : QRect();
}

std::optional<QRect> RegionPicker::Pick() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    const QRect desktop = screen->virtualGeometry();
    RegionPicker picker(kOverlayFlags);
    picker.setGeometry(desktop);
    picker.m_still =
        screen->grabWindow(0, desktop.x(), desktop.y(), desktop.width(), desktop.height());
    const std::optional<QRect> dragged = picker.Run();
    const QRect chosen = dragged ? RecordedRegion(dragged->translated(desktop.topLeft())) : QRect();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

// A window the desktop places and frames as any other: the still's monitor
// need not be where this window's coordinates say.
std::optional<QRect> RegionPicker::PickOn(const QImage& still) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || still.isNull())
        return std::nullopt;
    QSize shown = still.size();
    const QSize room = screen->availableGeometry().size() * kStillShare;
    if (shown.width() > room.width() || shown.height() > room.height())
        shown.scale(room, Qt::KeepAspectRatio);
    RegionPicker picker(Qt::Window);
    picker.setWindowTitle(tr("Drag the region to record, then press Enter"));
    picker.setFixedSize(shown);
    picker.m_still =
        QPixmap::fromImage(still.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    const std::optional<QRect> dragged = picker.Run();
    if (!dragged)
        return std::nullopt;
    const double scaleX = double(still.width()) / shown.width();
    const double scaleY = double(still.height()) / shown.height();
    const QRect inStill(qRound(dragged->x() * scaleX), qRound(dragged->y() * scaleY),
                        qRound(dragged->width() * scaleX), qRound(dragged->height() * scaleY));
    const QRect chosen = EvenSized(inStill & still.rect());
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

RegionPicker::RegionPicker(Qt::WindowFlags flags) : QWidget(nullptr, flags) {
    setCursor(Qt::CrossCursor);
    setMouseTracking(false);
}

std::optional<QRect> RegionPicker::Run() {
    show();
    activateWindow();
    grabKeyboard();
    QEventLoop loop;
    while (!m_taken)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    releaseKeyboard();
    if (!*m_taken)
        return std::nullopt;
    return Dragged();
}

QRect RegionPicker::Dragged() const {
    return m_dragged ? QRect(m_anchor, m_corner).normalized() : QRect();
}

void RegionPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_still);
    const QRect chosen = Dragged();
    QRegion shaded(rect());
    painter.setClipRegion(shaded.subtracted(chosen));
    painter.fillRect(rect(), kShade);
    painter.setClipping(false);
    if (chosen.isEmpty())
        return;
    painter.setPen(QPen(kFrameColour, 1));
    painter.drawRect(chosen.adjusted(-1, -1, 0, 0));
    const QRect even = EvenSized(chosen);
    const QString size = QStringLiteral("%1 x %2").arg(even.width()).arg(even.height());
    const QPoint label = chosen.bottomLeft() + QPoint(0, fontMetrics().height() + 4);
    painter.setPen(Qt::white);
    painter.drawText(label.y() < height() ? label : chosen.topLeft() - QPoint(0, 4), size);
}

void RegionPicker::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_beforePress = Dragged();
    m_anchor = m_corner = event->position().toPoint();
    m_dragged = true;
    update();
}

void RegionPicker::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    m_corner = event->position().toPoint();
    update();
}

// A double click takes what was dragged: its first press began a drag of
// nothing, which the rectangle from before it stands in for.
void RegionPicker::mouseDoubleClickEvent(QMouseEvent*) {
    if (Dragged().width() < 2 || Dragged().height() < 2) {
        m_anchor = m_beforePress.topLeft();
        m_corner = m_beforePress.bottomRight();
        m_dragged = !m_beforePress.isEmpty();
    }
    Finish(true);
}

void RegionPicker::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Finish(true);
        return;
    case Qt::Key_Escape:
        Finish(false);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void RegionPicker::closeEvent(QCloseEvent* event) {
    if (!m_taken)
        m_taken = false;
    QWidget::closeEvent(event);
}

void RegionPicker::Finish(bool taken) {
    m_taken = taken;
    hide();
}

void RegionFrame::Show(const QRect& region) {
    Hide();
    const int w = kFrameWidth;
    const QRect outer = region.adjusted(-w, -w, w, w);
    const std::array<QRect, 4> edges = {{
        {outer.left(), outer.top(), outer.width(), w},
        {outer.left(), region.bottom() + 1, outer.width(), w},
        {outer.left(), region.top(), w, region.height()},
        {region.right() + 1, region.top(), w, region.height()},
    }};
    for (size_t i = 0; i < m_edges.size(); ++i) {
        auto edge = std::make_unique<QWidget>(
            nullptr, kOverlayFlags | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
        edge->setAttribute(Qt::WA_ShowWithoutActivating);
        edge->setAutoFillBackground(true);
        QPalette palette = edge->palette();
        palette.setColor(QPalette::Window, kFrameColour);
        edge->setPalette(palette);
        edge->setGeometry(edges[i]);
        edge->show();
        m_edges[i] = std::move(edge);
    }
}

void RegionFrame::Hide() {
    for (auto& edge : m_edges)
        edge.reset();
}
