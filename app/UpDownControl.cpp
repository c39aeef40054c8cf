#include "app/UpDownControl.h"

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

void CUpDownControl::resizeEvent(QResizeEvent*) {
    const int upHeight = height() / 2;
    m_up->setGeometry(0, 0, width(), upHeight);
    m_down->setGeometry(0, upHeight, width(), height() - upHeight);
}
