#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;

// The seconds left before a recording starts, as a large number in the middle of
// the screen. It holds the keyboard while it shows, so that Esc or F9 calls the
// start off wherever the focus was; it is gone from the screen before it says the
// count has ended, so the first frame never shows it.
class CountdownWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tesmara Screen Recorder countdown";

    explicit CountdownWindow(QWidget* parent = nullptr);
    ~CountdownWindow() override;

    void Start(int seconds);
    bool IsCounting() const { return m_left > 0; }

signals:
    // The count reached zero and the window has left the screen.
    void finished();
    // Esc or F9 was pressed; the window has gone.
    void cancelled();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Tick();
    void ShowLeft();
    void Close();

    QLabel* m_number;
    QTimer m_second;
    int m_left = 0;
};
