#pragma once

#include <QWidget>

class QToolButton;

// A pair of arrow buttons without a buddy control: it keeps no position of its
// own and only reports each step, as a negative delta for the up arrow and a
// positive one for the down arrow. Held buttons repeat. Without a buddy control
// it takes no focus, so the keyboard does not reach it.
class CUpDownControl : public QWidget {
    Q_OBJECT
public:
    explicit CUpDownControl(QWidget* parent = nullptr);

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

signals:
    void deltaPos(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};
