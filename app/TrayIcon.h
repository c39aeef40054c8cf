#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include <QIcon>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The notification-area icon shown while the dialog is hidden. It reports mouse
// presses on it as the mouse messages a tray callback carries, so that the dialog
// decides which of them count.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned kLeftButtonDown = 0x201;
    static constexpr unsigned kLeftButtonDoubleClick = 0x203;
    static constexpr unsigned kRightButtonDown = 0x204;
    static constexpr unsigned kMiddleButtonDown = 0x207;
    static constexpr unsigned kCallbackMessage = 0x401;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Gives the icon its picture, its tooltip and its menu; done once, before the
    // first Add.
    void Prepare(const QIcon& icon);
    void Add();
    void Delete();

    // While recording: how long the recording is so far, in the tooltip.
    void ShowRecordedTime(uint32_t milliseconds);
    // A pause mark over the picture, "Paused" in the tooltip and the menu's first
    // entry offering the resume; or back to recording.
    void ShowPaused(bool paused);
    // The plain picture and tooltip, as when no recording runs.
    void ShowNotRecording();

    bool IsAdded() const;
    // Whether a notification area runs that can show the icon at all.
    static bool HostRunning();
    QString ToolTip() const;
    QIcon Picture() const;
    // The texts of the right button's menu, in order.
    QStringList MenuEntries() const;

signals:
    // callbackMessage is kCallbackMessage; mouseMessage one of the k...Button... values.
    void notify(unsigned callbackMessage, unsigned mouseMessage);
    // Chosen in the menu of the right button.
    void pauseToggleChosen();
    void stopChosen();

private:
    void BuildMenu();

    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_pauseAction = nullptr;
    QIcon m_picture;
    QIcon m_pausedPicture;
};
