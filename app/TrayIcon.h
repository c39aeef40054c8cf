#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QIcon;
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

    // Gives the icon its picture and its tooltip; done once, before the first Add.
    void Prepare(const QIcon& icon);
    void Add();
    void Delete();

    bool IsAdded() const;
    // Whether a notification area runs that can show the icon at all.
    static bool HostRunning();
    QString ToolTip() const;

signals:
    // callbackMessage is kCallbackMessage; mouseMessage one of the k...Button... values.
    void notify(unsigned callbackMessage, unsigned mouseMessage);

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
};
