#include "app/AreaList.h"

#include "session/ApplicationDisplay.h"

#include <QComboBox>
#include <QCoreApplication>
#include <algorithm>
#include <string>
#include <vector>

// X11's headers come after Qt's, whose names their macros would take.
#include "recorder/capture/PrimaryMonitor.h"

namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kMonitorRole = Qt::UserRole + 1;

QString Tr(const char* text) {
    return QCoreApplication::translate("AreaList", text);
}

std::vector<NamedMonitor> ConnectedMonitors() {
    Display* display = ApplicationDisplay();
    return display ? ListMonitors(display, DefaultRootWindow(display))
                   : std::vector<NamedMonitor>();
}

void AddMonitor(QComboBox& box, const QString& text, const std::string& name) {
    box.addItem(text, int(AreaKind::Monitor));
    box.setItemData(box.count() - 1, QString::fromStdString(name), kMonitorRole);
}

int FindChoice(const QComboBox& box, const AreaChoice& choice) {
    for (int index = 0; index < box.count(); ++index) {
        if (box.itemData(index, kKindRole).toInt() == int(choice.kind) &&
            (choice.kind != AreaKind::Monitor ||
             box.itemData(index, kMonitorRole).toString().toStdString() == choice.monitor))
            return index;
    }
    return -1;
}

// The monitor entry carries the saved monitor choice along, so that a choice
// made in an X11 session is kept for the next one.
void FillPortalList(QComboBox& box, const AreaChoice& saved) {
    const bool savedMonitor = saved.kind != AreaKind::Window && saved.kind != AreaKind::Region;
    AddMonitor(box, Tr("A monitor"), savedMonitor ? saved.monitor : std::string());
    box.setItemData(0, int(savedMonitor ? saved.kind : AreaKind::Primary), kKindRole);
    box.addItem(Tr("A window"), int(AreaKind::Window));
    box.addItem(Tr("A region"), int(AreaKind::Region));
    box.setCurrentIndex(std::max(0, FindChoice(box, saved)));
}

} // namespace

void FillAreaList(QComboBox& box, const AreaChoice& saved, bool portal) {
    box.clear();
    if (portal) {
        FillPortalList(box, saved);
        return;
    }
    box.addItem(Tr("Primary screen"), int(AreaKind::Primary));
    box.addItem(Tr("All screens"), int(AreaKind::All));
    for (const NamedMonitor& monitor : ConnectedMonitors())
        AddMonitor(box,
                   Tr("Monitor %1 (%2x%3)")
                       .arg(QString::fromStdString(monitor.name))
                       .arg(monitor.area.width)
                       .arg(monitor.area.height),
                   monitor.name);
    box.addItem(Tr("A window"), int(AreaKind::Window));
    box.addItem(Tr("A region"), int(AreaKind::Region));
    if (saved.kind == AreaKind::Monitor && FindChoice(box, saved) < 0)
        AddMonitor(box, Tr("Monitor %1 (not connected)").arg(QString::fromStdString(saved.monitor)),
                   saved.monitor);
    box.setCurrentIndex(std::max(0, FindChoice(box, saved)));
}

AreaChoice ListedArea(const QComboBox& box, const AreaRegion& region) {
    const int index = std::max(0, box.currentIndex());
    AreaChoice choice;
    choice.kind = AreaKind(box.itemData(index, kKindRole).toInt());
    choice.region = region;
    if (choice.kind == AreaKind::Monitor)
        choice.monitor = box.itemData(index, kMonitorRole).toString().toStdString();
    return choice;
}

void FillScaleList(QComboBox& box, int savedHeight) {
    box.clear();
    box.addItem(Tr("Original size"), 0);
    box.addItem(Tr("1080p"), 1080);
    box.addItem(Tr("720p"), 720);
    box.setCurrentIndex(std::max(0, box.findData(savedHeight)));
}

int ListedScaleHeight(const QComboBox& box) {
    return box.currentData().toInt();
}

void RemoveAreaKind(QComboBox& box, AreaKind kind) {
    AreaChoice choice;
    choice.kind = kind;
    const int index = FindChoice(box, choice);
    if (index < 0)
        return;
    const bool selected = box.currentIndex() == index;
    box.removeItem(index);
    if (selected)
        box.setCurrentIndex(0);
}

void SelectAreaKind(QComboBox& box, AreaKind kind) {
    AreaChoice choice;
    choice.kind = kind;
    if (const int index = FindChoice(box, choice); index >= 0)
        box.setCurrentIndex(index);
}
