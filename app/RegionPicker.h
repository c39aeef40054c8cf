#pragma once

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

// A full-screen overlay over a still of the whole screen, on which the user drags
// the rectangle to record; its size is shown as it is dragged. Its edges and
// corners carry handles that drag them alone. Enter or a double click takes it,
// Esc calls the choice off.
class RegionPicker : public QWidget {
    Q_OBJECT
public:
    // The rectangle in screen pixels, even-sized; nothing when called off or empty.
    static std::optional<QRect> Pick();
    // The same on a given still, shown in a window of its own (made smaller to
    // fit the screen): the rectangle in the still's pixels.
    static std::optional<QRect> PickOn(const QImage& still);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The still's window closed by its frame calls the choice off.
    void closeEvent(QCloseEvent* event) override;

private:
    explicit RegionPicker(Qt::WindowFlags flags);
    // Shows the picker until the user takes a rectangle (in the picker's own
    // coordinates) or calls the choice off.
    std::optional<QRect> Run();
    void Finish(bool taken);
    // The dragged rectangle in the overlay's own coordinates.
    QRect Dragged() const;

    QPixmap m_still;
    QPoint m_anchor; // the corner that stays
    QPoint m_corner; // the corner that follows the pointer, on the axes that move
    bool m_moveX = true;
    bool m_moveY = true;
    bool m_dragged = false;
    QRect m_beforePress; // what the press of a double click replaced
    std::optional<bool> m_taken;
};

// What the grabber reads of a region: the part on the screen, cut to even sizes.
QRect RecordedRegion(const QRect& region);

// A thin frame just outside a region while it is recorded: four narrow windows
// the pointer passes through, kept off the recorded rectangle.
class RegionFrame {
public:
    void Show(const QRect& region);
    void Hide();

private:
    std::array<std::unique_ptr<QWidget>, 4> m_edges;
};
