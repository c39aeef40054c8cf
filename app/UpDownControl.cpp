#include "app/UpDownControl.h"

#include <QKeyEvent>
#include <QToolButton>

namespace {

QToolButton* MakeArrowButton(QWidget* parent, Qt::ArrowType arrow) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

CUpDownControl::CUpDownControl(QWidget* parent)
    : QWidget(parent), m_up(MakeArrowButton(this, Qt::UpArrow)),
      m_down(MakeArrowButton(this, Qt::DownArrow)) {
    connect(m_up, &QToolButton::clicked, this, [this] { emit deltaPos(-1); });
    connect(m_down, &QToolButton::clicked, this, [this] { emit deltaPos(1); });
}

void CUpDownControl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up)
        emit deltaPos(-1);
    else if (event->key() == Qt::Key_Down)
        emit deltaPos(1);
    else
        QWidget::keyPressEvent(event);
}

void CUpDownControl::resizeEvent(QResizeEvent*) {
    const int upHeight = height() / 2;
    m_up->setGeometry(0, 0, width(), upHeight);
    m_down->setGeometry(0, upHeight, width(), height() - upHeight);
}
