#include "app/CountdownWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kSide = 240;
constexpr int kDigitPixels = 160;
// Enough for the window's unmapping to reach the X server before the first grab.
constexpr int kLeaveScreenMilliseconds = 150;

} // namespace

CountdownWindow::CountdownWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint),
      m_number(new QLabel(this)) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setFixedSize(kSide, kSide);
    setStyleSheet(QStringLiteral("background-color: #282828; color: white;"));
    QFont font = m_number->font();
    font.setPixelSize(kDigitPixels);
    font.setBold(true);
    m_number->setFont(font);
    m_number->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_number);
    m_second.setInterval(1000);
    connect(&m_second, &QTimer::timeout, this, &CountdownWindow::Tick);
}

CountdownWindow::~CountdownWindow() = default;

void CountdownWindow::Start(int seconds) {
    m_left = seconds;
    ShowLeft();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    grabKeyboard();
    m_second.start();
}

void CountdownWindow::Tick() {
    if (--m_left > 0) {
        ShowLeft();
        return;
    }
    // Still counting while the window leaves the screen, so no second start begins.
    m_second.stop();
    releaseKeyboard();
    hide();
    QTimer::singleShot(kLeaveScreenMilliseconds, this, [this] {
        m_left = 0;
        emit finished();
    });
}

void CountdownWindow::ShowLeft() {
    m_number->setText(QString::number(m_left));
}

void CountdownWindow::Close() {
    m_second.stop();
    m_left = 0;
    releaseKeyboard();
    hide();
}

void CountdownWindow::keyPressEvent(QKeyEvent* event) {
    if (IsCounting() && (event->key() == Qt::Key_Escape || event->key() == Qt::Key_F9)) {
        Close();
        emit cancelled();
        return;
    }
    QWidget::keyPressEvent(event);
}
