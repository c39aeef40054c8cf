#pragma once

#include "advert/DaltropBanner.h"
#include "app/CountdownWindow.h"
#include "app/DataExchange.h"
#include "app/DialogTemplate.h"
#include "app/QvHyperLink.h"
#include "app/RecordingRepair.h"
#include "app/RegionPicker.h"
#include "app/RemoteControl.h"
#include "app/TerminationSignals.h"
#include "app/TrayIcon.h"
#include "app/WindowMessageFilter.h"
#include "recorder/media/BitmapInfoHeader.h"
#include "session/RecordingSession.h"
#include "settings/Settings.h"

#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The program's one window: the recording options, the Start button, the
// advertisement banner and the maker's link. Its modal run is the program's life.
class CKestraboleDlg : public QDialog {
    Q_OBJECT
public:
    explicit CKestraboleDlg(QWidget* parent = nullptr);
    ~CKestraboleDlg() override;

    // Opens the dialog and runs until Close ends it. Hiding the window (while a
    // recording runs) does not end the run.
    int DoModal();
    // Builds the controls and runs the opening steps without entering the modal
    // loop; DoModal starts with it. Only the first call does anything.
    bool Create();

    // True moves the controls' contents into the members (with validation), false
    // the members into the controls. False when a typed value was rejected.
    bool UpdateData(bool saveAndValidate = true);

    // The control with the given id from the template; nullptr for none.
    QWidget* Control(int id) const;
    // The line under Start Record that says how to stop.
    QLabel* HelpLine() const;
    // The template's controls in template order, -1 ids included.
    const std::vector<QWidget*>& Controls() const { return m_controls; }

    // Recording session (KestraboleDlgRecording.cpp): the dialog's side of it,
    // reading the choices and saying how a recording went; m_session records.
    void StartRecording();
    // A start asked for by the command line: into output unless it is empty, and
    // stopping after that many seconds unless 0. False when nothing began.
    bool StartRecordingFor(const QString& output, unsigned stopAfterSeconds,
                           const QString& area = {});
    void OnHotKey(unsigned identifier, unsigned modifiers, unsigned virtualKey);
    long OnLeftClickMsg(uint32_t wParam, uint32_t lParam);
    long OnRightClickMsg(uint32_t wParam, uint32_t lParam);
    void StopRecording();
    // Wayland desktops (KestraboleDlgWayland.cpp): no global F9, no readable input
    // device, no pointer position beside the shared screen.
    void OnStopShortcutUnavailable();
    long OnNoPressDevices();

    // Notification-area icon (KestraboleDlgTray.cpp).
    long OnTrayNotify(uint32_t wParam, uint32_t lParam);
    long OnTrayHide(uint32_t wParam, uint32_t lParam);
    long OnTrayRestore(uint32_t wParam, uint32_t lParam);
    // Completes the icon's record when the dialog opens.
    void PrepareTrayIcon();
    // Pauses a recording, or resumes a paused one (the tray's menu, Ctrl+F9).
    void TogglePause();

    // Dialog handlers, public so that the keyboard and the tests reach the same code.
    void OnCloseButton();
    void OnDeltaposFrameRate(int delta);
    void OnBrowse();
    // With "A window" chosen, picks the window for the next start; otherwise
    // picks a region on a still of the screen and chooses it to record.
    void OnSelectArea();
    void OnAbout();
    void OnIgnoreCommand() {}

    CSettings m_settings;
    RecordingSession m_session;
    TrayIcon m_nid;
    bool m_bClosing = false;
    CDaltropBanner m_banner;
    QIcon m_hIcon;
    QComboBox m_cbCodec;
    QComboBox m_cbArea;
    QComboBox m_cbScale;
    unsigned m_nFrameRate = 0;
    std::u16string m_strPath;
    int32_t m_bLeftClick = 0;
    int32_t m_bRightClick = 0;
    int32_t m_bMicrophone = 0;
    int32_t m_bDesktopSound = 0;
    int32_t m_bShowKeys = 0;
    unsigned m_nCountdown = 0; // seconds
    int32_t m_bStopAfter = 0;
    unsigned m_nStopAfterMinutes = 0;
    unsigned m_nStopAfterSeconds = 0;
    CQvHyperLink m_link;

protected:
    bool OnInitDialog();
    void DoDataExchange(CDataExchange& dx);

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    void InstallAccelerators();
    static void SeedRegistryDefaults();
    void SelectPreferredCodecFor(const std::u16string& path);
    std::vector<std::u16string> ListedCodecs() const;

    // Recording session (KestraboleDlgRecording.cpp).
    void InitRecordingSession();
    long OnWindowMessage(const clickchannel::WindowMessage& message);
    bool RefuseUnusablePath();
    void EnsureOutputFolder();
    bool ConfirmReplacing();
    void RenewDefaultPath();
    void OpenWhenCompleted(const QUrl& file);
    RecordingChoices Choices(const AviCompressOptions& compressOptions) const;
    // The listed area, with the window picked for this start.
    AreaChoice ChosenArea() const;
    QString WhyStartFailed(const StartFailure& failure) const;
    QString WhyWriterRefused(const BitmapInfoHeader& format) const;
    QString WhyContainerRefusesCodec() const;
    // Repairs what a crash cut off and says where it is (KestraboleDlgRepair.cpp).
    void RepairInterruptedRecordings();
    void ReportRepairs(const std::vector<CAviRepair::Outcome>& outcomes);
    void AbandonStart(const QString& reason);
    void TellStopKeyOnce();
    // Leaves the screen and waits until what lay under the dialog is drawn again.
    void HideAndSettle();
    void PickWindowThenBegin();
    void CountdownOrBegin();
    // Starts the session once the countdown, if any, has ended.
    void BeginRecording();
    void OnCountdownCancelled();
    void StopAndComeBack();
    void OnDiskFull(const StopReport& report);
    void OnScreenLost();
    long AddClickMark(bool left);
    void TellHowItEnded(const StopReport& report);
    QStringList StopProblems(const StopReport& report) const;
    QStringList RecordingProblems(const StopReport& report) const;
    QString SoundNote(const StopReport& report) const;
    void ReportWhenShown(const QStringList& problems);
    void OnTerminationSignal(int signalNumber);
    // The delay and the stop time between the settings and the dialog's fields.
    void ShowRecordingTimes();
    void KeepRecordingTimes();
    // The tray icon follows the session's state (KestraboleDlgTray.cpp).
    void ShowStateInTray(SessionState state);
    void FrameRecordedRegion(SessionState state);

    // What differs on a Wayland desktop (KestraboleDlgWayland.cpp).
    QString NoPressDevicesNote() const;
    QString UnplaceablePressesNote() const;
    // The screen is shared through the desktop portal, not read from an X server.
    static bool PortalCapture();
    // Takes "A window" off the list when the portal cannot share one.
    void OfferPortalSources();
    // A region picked on a still of the monitor the portal shares for regions.
    std::optional<QRect> PickRegionOnSharedMonitor();
    void AskPickerAgain();

    std::vector<QWidget*> m_controls;
    bool m_created = false;
    RecordingRepair m_repair;
    // The path made when the dialog opened or after the last recording to it; a
    // path still equal to it is renewed after each recording.
    std::u16string m_strDefaultPath;
    // The path the user chose in Browse's save dialog, which asked before
    // naming an existing file; it holds for one start.
    std::u16string m_strConfirmedPath;
    // The file the last stop left being completed, until it is.
    std::u16string m_strCompletingPath;
    bool m_toldStopKey = false;
    bool m_toldNoStopKey = false;
    std::unique_ptr<WindowMessageFilter> m_messageFilter;
    TerminationSignals m_terminationSignals;
    CountdownWindow m_countdown;
    std::unique_ptr<RemoteControl> m_remote;
    // The command line's stop time, for the recording it starts.
    std::optional<unsigned> m_stopAfterOnce;
    // Renews the tray's recorded time while a recording runs.
    QTimer m_trayClock;
    RegionFrame m_regionFrame; // around a region while it is recorded
    // The window to record, picked for the next start only; 0: none yet.
    uint32_t m_pickedWindow = 0;
    bool m_pickingWindow = false; // a start waits for the window's click
};
