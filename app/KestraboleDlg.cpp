#include "app/KestraboleDlg.h"

#include "advert/AdvertWorker.h"
#include "app/AboutDlg.h"
#include "app/AreaList.h"
#include "app/CodecList.h"
#include "app/KestraboleApp.h"
#include "app/OutputPath.h"
#include "app/RecordingNotes.h"
#include "app/Resources.h"
#include "app/UpDownControl.h"
#include "app/UserMessage.h"
#include "app/WindowPicker.h"
#include "recorder/output/OutputContainer.h"
#include "settings/RegEdit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <optional>

namespace {

constexpr unsigned kDefaultFrameRate = 18;
constexpr unsigned kLowestOpeningRate = 6;
constexpr unsigned kHighestSpinRate = 30;
constexpr unsigned kLowestSpinRate = 2;
constexpr unsigned kHighestTypedRate = 32;
// Time for the window manager and the other windows to redraw what the dialog covered.
constexpr int kHiddenSettleMilliseconds = 300;

// The file types Browse offers, the first one the default.
struct FileType {
    const char* filter;
    const char* suffix;
};
constexpr FileType kFileTypes[] = {
    {"AVI ( *.avi )", "avi"}, {"MP4 ( *.mp4 )", "mp4"}, {"Matroska ( *.mkv )", "mkv"}};

// A dialog made without the application object (a widget test) has nothing to record with.
std::optional<RecordingSession::Recorder> ApplicationRecorder() {
    CKestraboleApp* app = CKestraboleApp::Instance();
    return app ? std::optional(app->Recorder()) : std::nullopt;
}

} // namespace

CKestraboleDlg::CKestraboleDlg(QWidget* parent)
    : QDialog(parent, kTemplateDialogFlags), m_session(ApplicationRecorder()),
      m_hIcon(resources::ProgramIcon()) {
    InstallAccelerators();
}

CKestraboleDlg::~CKestraboleDlg() = default;

int CKestraboleDlg::DoModal() {
    if (!Create())
        return Rejected;
    QEventLoop modalLoop;
    connect(this, &QDialog::finished, &modalLoop, &QEventLoop::quit);
    show();
    modalLoop.exec();
    return result();
}

bool CKestraboleDlg::Create() {
    if (m_created)
        return true;
    m_created = true;
    BuildControls();
    return OnInitDialog();
}

QWidget* CKestraboleDlg::Control(int id) const {
    const auto& items = resources::MainDialogTemplate().items;
    for (size_t i = 0; i < m_controls.size(); ++i)
        if (items[i].id == id)
            return m_controls[i];
    return nullptr;
}

QLabel* CKestraboleDlg::HelpLine() const {
    const auto& items = resources::MainDialogTemplate().items;
    for (size_t i = 0; i < m_controls.size(); ++i)
        if (items[i].text == QLatin1String(resources::kHelpLineText))
            return qobject_cast<QLabel*>(m_controls[i]);
    return nullptr;
}

void CKestraboleDlg::BuildControls() {
    using namespace resources;
    m_controls = ::BuildControls(*this, MainDialogTemplate(), [this](const DialogItem& item) {
        QWidget* member = nullptr;
        if (item.id == kCodecList)
            member = &m_cbCodec;
        else if (item.id == kAreaList)
            member = &m_cbArea;
        else if (item.id == kScaleList)
            member = &m_cbScale;
        else if (item.id == kBanner)
            member = &m_banner;
        else if (item.id == kWebLink) {
            m_link.setText(item.text);
            member = &m_link;
        }
        return member;
    });
    connect(static_cast<QPushButton*>(Control(kCloseButton)), &QPushButton::clicked, this,
            &CKestraboleDlg::OnCloseButton);
    connect(static_cast<QPushButton*>(Control(kStartRecordButton)), &QPushButton::clicked, this,
            &CKestraboleDlg::StartRecording);
    connect(static_cast<QPushButton*>(Control(kBrowseButton)), &QPushButton::clicked, this,
            &CKestraboleDlg::OnBrowse);
    connect(static_cast<QPushButton*>(Control(kAreaSelectButton)), &QPushButton::clicked, this,
            &CKestraboleDlg::OnSelectArea);
    connect(static_cast<CUpDownControl*>(Control(kFrameRateSpin)), &CUpDownControl::deltaPos, this,
            &CKestraboleDlg::OnDeltaposFrameRate);
    // The stop time's fields count only while its box is ticked.
    const auto enableStopTime = [this](bool ticked) {
        Control(kStopAfterMinutesEdit)->setEnabled(ticked);
        Control(kStopAfterSecondsEdit)->setEnabled(ticked);
    };
    connect(static_cast<QCheckBox*>(Control(kStopAfterBox)), &QCheckBox::toggled, this,
            enableStopTime);
    enableStopTime(false);
}

void CKestraboleDlg::InstallAccelerators() {
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CKestraboleDlg::OnAbout);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CKestraboleDlg::OnIgnoreCommand);
}

bool CKestraboleDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

void CKestraboleDlg::DoDataExchange(CDataExchange& dx) {
    using namespace resources;
    // The codec list, the link and the banner are bound to their members when the
    // controls are built.
    dx.Text(static_cast<QLineEdit*>(Control(kFrameRateEdit)), m_nFrameRate);
    dx.MinMaxUInt(m_nFrameRate, 0, kHighestTypedRate);
    dx.Text(static_cast<QLineEdit*>(Control(kPathEdit)), m_strPath);
    dx.Check(static_cast<QCheckBox*>(Control(kLeftClickBox)), m_bLeftClick);
    dx.Check(static_cast<QCheckBox*>(Control(kRightClickBox)), m_bRightClick);
    dx.Check(static_cast<QCheckBox*>(Control(kMicrophoneBox)), m_bMicrophone);
    dx.Check(static_cast<QCheckBox*>(Control(kDesktopSoundBox)), m_bDesktopSound);
    dx.Check(static_cast<QCheckBox*>(Control(kShowKeysBox)), m_bShowKeys);
    dx.Text(static_cast<QLineEdit*>(Control(kCountdownEdit)), m_nCountdown);
    dx.MinMaxUInt(m_nCountdown, 0, CSettings::kLongestCountdown);
    dx.Check(static_cast<QCheckBox*>(Control(kStopAfterBox)), m_bStopAfter);
    dx.Text(static_cast<QLineEdit*>(Control(kStopAfterMinutesEdit)), m_nStopAfterMinutes);
    dx.MinMaxUInt(m_nStopAfterMinutes, 0, CSettings::kLongestStopAfter / 60);
    dx.Text(static_cast<QLineEdit*>(Control(kStopAfterSecondsEdit)), m_nStopAfterSeconds);
    dx.MinMaxUInt(m_nStopAfterSeconds, 0, 59);
}

void CKestraboleDlg::ShowRecordingTimes() {
    m_nCountdown = static_cast<unsigned>(m_settings.countdown);
    m_bStopAfter = m_settings.stopAfter > 0 ? 1 : 0;
    m_nStopAfterMinutes = static_cast<unsigned>(m_settings.stopAfter) / 60;
    m_nStopAfterSeconds = static_cast<unsigned>(m_settings.stopAfter) % 60;
}

// An unticked stop time, or one of no length, is off.
void CKestraboleDlg::KeepRecordingTimes() {
    m_settings.countdown = static_cast<int32_t>(m_nCountdown);
    m_settings.stopAfter =
        m_bStopAfter ? static_cast<int32_t>(m_nStopAfterMinutes * 60 + m_nStopAfterSeconds) : 0;
}

bool CKestraboleDlg::OnInitDialog() {
    UpdateData(false);
    setWindowIcon(m_hIcon);
    m_settings.Load();
    PrepareAdvert(m_banner);
    m_strDefaultPath = FreshDefaultOutputPath(m_settings.path);
    SeedRegistryDefaults();
    m_strPath = m_strDefaultPath;
    const auto savedRate = static_cast<unsigned>(m_settings.frameRate);
    m_nFrameRate = savedRate >= kLowestOpeningRate && savedRate <= kHighestSpinRate
                       ? savedRate
                       : kDefaultFrameRate;
    PrepareTrayIcon();
    InitRecordingSession();
    FillCodecList(m_cbCodec, CCodecCatalogue::Enumerate(), m_settings.codec);
    FillAreaList(m_cbArea, m_settings.area, PortalCapture());
    if (PortalCapture())
        OfferPortalSources();
    FillScaleList(m_cbScale, m_settings.scale);
    resources::SetUpMakerLink(m_link);
    m_bLeftClick = m_settings.leftClick;
    m_bRightClick = m_settings.rightClick;
    m_bMicrophone = m_settings.microphone;
    m_bDesktopSound = m_settings.desktopSound;
    m_bShowKeys = m_settings.showKeys;
    ShowRecordingTimes();
    UpdateData(false);
    // The focus starts on the first control in tab order, the Close button.
    Control(resources::kCloseButton)->setFocus();
    // Once the dialog shows, so that what the repair says has a window to go with.
    QTimer::singleShot(0, this, &CKestraboleDlg::RepairInterruptedRecordings);
    if (CKestraboleApp* app = CKestraboleApp::Instance(); app && app->m_startOnOpen)
        QTimer::singleShot(0, this, [this, request = *app->m_startOnOpen] {
            StartRecordingFor(QString::fromStdString(request.output), request.stopAfterSeconds,
                              QString::fromStdString(request.area));
        });
    return true;
}

void CKestraboleDlg::SeedRegistryDefaults() {
    // Values the hook host's key is expected to carry; only "HW" is read.
    const std::u16string key = u"Software\\DaltropSC";
    CRegEdit registry;
    registry.WriteStringIfEmpty(true, key, u"HW", u"");
    registry.WriteStringIfEmpty(true, key, u"1056", u"18");
    registry.WriteStringIfEmpty(true, key, u"1054", u"");
    registry.WriteStringIfEmpty(true, key, u"1060", u"yes");
    registry.WriteStringIfEmpty(true, key, u"1061", u"yes");
}

void CKestraboleDlg::OnCloseButton() {
    m_bClosing = true;
    StopRecording();
    UpdateData(true);
    m_settings.leftClick = m_bLeftClick;
    m_settings.rightClick = m_bRightClick;
    m_settings.microphone = m_bMicrophone;
    m_settings.desktopSound = m_bDesktopSound;
    m_settings.showKeys = m_bShowKeys;
    m_settings.frameRate = static_cast<int32_t>(m_nFrameRate);
    KeepRecordingTimes();
    // With nothing selected (no encoder on this machine, or none chosen) the codec
    // is saved empty rather than keeping the user from closing.
    m_settings.codec =
        m_cbCodec.currentIndex() >= 0 ? m_cbCodec.currentText().toStdU16String() : std::u16string();
    m_settings.path = m_strPath;
    m_settings.area = ListedArea(m_cbArea, m_settings.area.region);
    m_settings.scale = ListedScaleHeight(m_cbScale);
    if (!m_settings.Save())
        ShowUserMessage(this, notes::SettingsNotSaved(CSettings::FilePath()));
    QDialog::reject();
}

void CKestraboleDlg::OnDeltaposFrameRate(int delta) {
    UpdateData(true);
    if (delta < 0)
        m_nFrameRate = m_nFrameRate >= kHighestSpinRate ? kHighestSpinRate : m_nFrameRate + 1;
    else if (delta > 0)
        m_nFrameRate = m_nFrameRate > kLowestSpinRate ? m_nFrameRate - 1 : kLowestSpinRate;
    UpdateData(false);
}

void CKestraboleDlg::OnBrowse() {
    QFileDialog fileDialog(nullptr);
    fileDialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList filters;
    for (const FileType& type : kFileTypes)
        filters << QString::fromLatin1(type.filter);
    fileDialog.setNameFilters(filters);
    fileDialog.setDefaultSuffix(QString::fromLatin1(kFileTypes[0].suffix));
    // A name typed without an extension gets the one of the chosen type.
    connect(&fileDialog, &QFileDialog::filterSelected, &fileDialog,
            [&fileDialog, filters](const QString& filter) {
                const qsizetype chosen = std::max<qsizetype>(filters.indexOf(filter), 0);
                fileDialog.setDefaultSuffix(QString::fromLatin1(kFileTypes[chosen].suffix));
            });
    fileDialog.selectFile(QStringLiteral("Untitled"));
    if (fileDialog.exec() != QDialog::Accepted || fileDialog.selectedFiles().isEmpty())
        return;
    const std::u16string chosen = fileDialog.selectedFiles().constFirst().toStdU16String();
    if (ContainerForFile(chosen) != ContainerForFile(m_strPath))
        SelectPreferredCodecFor(chosen);
    // The save dialog has asked before naming an existing file.
    m_strPath = m_strConfirmedPath = chosen;
    UpdateData(false);
}

// A new file type brings the codec that suits it best, which the user may change.
void CKestraboleDlg::SelectPreferredCodecFor(const std::u16string& path) {
    const int index = m_cbCodec.findText(
        QString::fromStdU16String(CCodecCatalogue::PreferredFor(path, ListedCodecs())));
    if (index >= 0)
        m_cbCodec.setCurrentIndex(index);
}

std::vector<std::u16string> CKestraboleDlg::ListedCodecs() const {
    std::vector<std::u16string> listed;
    for (int i = 0; i < m_cbCodec.count(); ++i)
        listed.push_back(m_cbCodec.itemText(i).toStdU16String());
    return listed;
}

void CKestraboleDlg::HideAndSettle() {
    hide();
    QEventLoop settle;
    QTimer::singleShot(kHiddenSettleMilliseconds, &settle, &QEventLoop::quit);
    settle.exec();
}

// The dialog leaves the screen first, so that the still shows what lies under it,
// and the window under it can be clicked. Esc leaves no window picked. On Wayland
// the desktop's own picker chooses a monitor or a window: beside them this asks it
// again, and beside "A region" it picks a region.
void CKestraboleDlg::OnSelectArea() {
    HideAndSettle();
    if (PortalCapture() && ChosenArea().kind != AreaKind::Region) {
        AskPickerAgain();
        show();
        return;
    }
    if (!PortalCapture() && ChosenArea().kind == AreaKind::Window) {
        m_pickedWindow = PickWindow().value_or(0);
        show();
        return;
    }
    const std::optional<QRect> region =
        PortalCapture() ? PickRegionOnSharedMonitor() : RegionPicker::Pick();
    show();
    if (!region)
        return;
    m_settings.area.region = {region->x(), region->y(), region->width(), region->height()};
    SelectAreaKind(m_cbArea, AreaKind::Region);
}

void CKestraboleDlg::OnAbout() {
    CAboutDlg about(this);
    about.DoModal();
}

void CKestraboleDlg::closeEvent(QCloseEvent* event) {
    // The close box, Alt+F4 and a request from outside while the dialog is hidden
    // close it like the Close button.
    OnCloseButton();
    event->accept();
}

void CKestraboleDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the focused push button and does nothing elsewhere.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        return;
    case Qt::Key_Escape:
        // Esc never closes the dialog, even where a control kept it from the accelerator.
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CKestraboleDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(resources::AboutMenuText(), this, &CKestraboleDlg::OnAbout);
    menu.exec(event->globalPos());
}
