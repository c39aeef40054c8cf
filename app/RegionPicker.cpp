#include "app/RegionPicker.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cstdlib>

namespace {

constexpr int kFrameWidth = 2;
// How near an edge a press takes it, and how large its handles are drawn.
constexpr int kHandleReach = 6;
constexpr int kHandleSize = 7;
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

enum Edge { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };

// The rectangle's edges within reach of the point: one of each pair at most.
int EdgesNear(const QRect& rect, const QPoint& point) {
    if (rect.isEmpty())
        return 0;
    const bool besideRows =
        point.y() >= rect.top() - kHandleReach && point.y() <= rect.bottom() + kHandleReach;
    const bool besideColumns =
        point.x() >= rect.left() - kHandleReach && point.x() <= rect.right() + kHandleReach;
    int edges = 0;
    if (besideRows && std::abs(point.x() - rect.left()) <= kHandleReach)
        edges |= kLeft;
    else if (besideRows && std::abs(point.x() - rect.right()) <= kHandleReach)
        edges |= kRight;
    if (besideColumns && std::abs(point.y() - rect.top()) <= kHandleReach)
        edges |= kTop;
    else if (besideColumns && std::abs(point.y() - rect.bottom()) <= kHandleReach)
        edges |= kBottom;
    return edges;
}

Qt::CursorShape EdgeCursor(int edges) {
    const bool horizontal = edges & (kLeft | kRight);
    const bool vertical = edges & (kTop | kBottom);
    if (horizontal && vertical)
        return (edges == (kLeft | kTop) || edges == (kRight | kBottom)) ? Qt::SizeFDiagCursor
                                                                        : Qt::SizeBDiagCursor;
    if (horizontal)
        return Qt::SizeHorCursor;
    return vertical ? Qt::SizeVerCursor : Qt::CrossCursor;
}

// At the corners and the middle of each edge.
void DrawHandles(QPainter& painter, const QRect& rect) {
    const std::array<int, 3> xs = {rect.left(), rect.center().x(), rect.right()};
    const std::array<int, 3> ys = {rect.top(), rect.center().y(), rect.bottom()};
    painter.setPen(QPen(kFrameColour, 1));
    painter.setBrush(Qt::white);
    for (size_t column = 0; column < xs.size(); ++column) {
        for (size_t row = 0; row < ys.size(); ++row) {
            if (column != 1 || row != 1)
                painter.drawRect(xs[column] - kHandleSize / 2, ys[row] - kHandleSize / 2,
                                 kHandleSize - 1, kHandleSize - 1);
        }
    }
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
    // The cursor tells where a press takes an edge.
    setMouseTracking(true);
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
    DrawHandles(painter, chosen);
    const QRect even = EvenSized(chosen);
    const QString size = QStringLiteral("%1 x %2").arg(even.width()).arg(even.height());
    const QPoint label = chosen.bottomLeft() + QPoint(0, fontMetrics().height() + 4);
    painter.setPen(Qt::white);
    painter.drawText(label.y() < height() ? label : chosen.topLeft() - QPoint(0, 4), size);
}

// A press at an edge or a corner moves that alone: the edges taken become the
// moving corner's, the others the anchor's. A press anywhere else drags anew.
void RegionPicker::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    m_beforePress = Dragged();
    const int edges = EdgesNear(m_beforePress, point);
    const QRect& was = m_beforePress;
    m_anchor = m_corner = point;
    if (edges != 0) {
        m_anchor = {edges & kLeft ? was.right() : was.left(),
                    edges & kTop ? was.bottom() : was.top()};
        m_corner = {edges & kLeft ? was.left() : was.right(),
                    edges & kTop ? was.top() : was.bottom()};
    }
    m_moveX = edges == 0 || (edges & (kLeft | kRight)) != 0;
    m_moveY = edges == 0 || (edges & (kTop | kBottom)) != 0;
    m_dragged = true;
    update();
}

void RegionPicker::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (!(event->buttons() & Qt::LeftButton)) {
        setCursor(EdgeCursor(EdgesNear(Dragged(), point)));
        return;
    }
    if (m_moveX)
        m_corner.setX(point.x());
    if (m_moveY)
        m_corner.setY(point.y());
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
