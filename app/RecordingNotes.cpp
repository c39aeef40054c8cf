#include "app/RecordingNotes.h"

#include "hooklib/HookHostExit.h"

#include <QCoreApplication>
#include <climits>
#include <cstring>

namespace notes {
namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("CKestraboleDlg", text);
}

QString HelperReason(const HookHostProcess::Failure& failure, const std::string& store) {
    if (failure.spawnError != 0)
        return Tr("it could not be started (%1)")
            .arg(QString::fromLocal8Bit(strerror(failure.spawnError)));
    if (failure.signal != 0)
        return Tr("it was ended by signal %1 (%2)")
            .arg(failure.signal)
            .arg(QString::fromLocal8Bit(strsignal(failure.signal)));
    switch (failure.exitCode) {
    case hookhost::kExitNoWindow:
        return Tr("it could not read the dialog's window from the value store \"%1\"")
            .arg(ShortPath(QString::fromStdString(store)));
    case hookhost::kExitNoDisplay:
        return Tr("it could not connect to the X server");
    default:
        return Tr("it ended early with exit status %1").arg(failure.exitCode);
    }
}

} // namespace

QString ShortPath(const QString& path) {
    if (path.size() <= kPathCharacters)
        return path;
    const QChar ellipsis(0x2026);
    const int kept = kPathCharacters - 1;
    return path.left(kept / 2) + ellipsis + path.right(kept - kept / 2);
}

QString ShortPath(const std::u16string& path) {
    return ShortPath(QString::fromStdU16String(path));
}

QString TargetProblem(RecordingTargetProblem problem, const std::u16string& path) {
    switch (problem) {
    case RecordingTargetProblem::NotAFile:
        return Tr("\"%1\" is not a regular file (it is a folder, a pipe or a device). "
                  "Choose another file to record to.")
            .arg(ShortPath(path));
    case RecordingTargetProblem::NotOnADisk:
        return Tr("\"%1\" is not on a disk. Choose another file to record to.")
            .arg(ShortPath(path));
    case RecordingTargetProblem::NoRoom:
        return Tr("The disk of \"%1\" has no room for even a few seconds of recording. "
                  "Free some space or choose another folder.")
            .arg(ShortPath(path));
    case RecordingTargetProblem::NamesFolder:
        return Tr("\"%1\" ends in \"/\", so it names a folder, not a file. Add a file name, "
                  "such as \"Screen.avi\".")
            .arg(ShortPath(path));
    case RecordingTargetProblem::NameTooLong:
        return Tr("\"%1\" is longer than the file system allows: at most %2 bytes for each "
                  "folder or file name, %3 for the whole path. Choose a shorter name.")
            .arg(ShortPath(path))
            .arg(NAME_MAX)
            .arg(PATH_MAX - 1);
    case RecordingTargetProblem::Usable:
        break;
    }
    return {};
}

QString DiskFull(const std::u16string& path, bool anyFrames) {
    if (!anyFrames)
        return Tr("The disk is full: nothing could be recorded into \"%1\".").arg(ShortPath(path));
    return Tr("The disk is full: the recording was stopped. \"%1\" keeps what was recorded "
              "until then.")
        .arg(ShortPath(path));
}

QString NothingRecorded(const std::u16string& path) {
    return Tr("Nothing was recorded into \"%1\", so it is not opened.").arg(ShortPath(path));
}

QString HelperFailed(const HookHostProcess::Failure& failure, const std::string& store) {
    return Tr("Mouse presses were not marked in this recording: the helper program \"Daltrop\" "
              "stopped working because %1.")
        .arg(HelperReason(failure, store));
}

QString NoSound(SoundProblem problem, bool anySound) {
    const QString reason =
        problem == SoundProblem::NoServer  ? Tr("no sound server (PulseAudio or PipeWire) answered")
        : problem == SoundProblem::Refused ? Tr("the sound server refused access to the device")
                                           : Tr("the sound server has no such device");
    return anySound
               ? Tr("Part of the sound asked for is missing from this recording: %1.").arg(reason)
               : Tr("This recording has no sound: %1.").arg(reason);
}

QString SoundInterrupted() {
    return Tr("The sound stopped for a while during this recording (a device went away or the "
              "sound server restarted); the recording holds silence there.");
}

QString StopKeyOnly() {
    return Tr("No notification area is running, so the recording shows no icon. "
              "Press F9 to stop it.");
}

QString SettingsNotSaved(const std::u16string& path) {
    return Tr("Your settings cannot be saved to \"%1\": it is not a regular file of yours, "
              "or its folder cannot be written. It was left as it is.")
        .arg(ShortPath(path));
}

QString CaptureFailed(CaptureFailure failure) {
    switch (failure) {
    case CaptureFailure::NoPortal:
        return Tr("The screen cannot be recorded: this Wayland session has no desktop "
                  "portal (xdg-desktop-portal) running.");
    case CaptureFailure::NoScreenCast:
        return Tr("The screen cannot be recorded: the desktop portal of this session "
                  "cannot share the screen.");
    case CaptureFailure::NoWindowCast:
        return Tr("The window cannot be recorded: the desktop portal of this session cannot "
                  "share a single window. Choose a monitor or a region instead.");
    case CaptureFailure::Cancelled:
        return Tr("The recording did not start: sharing the screen was declined.");
    case CaptureFailure::PortalRefused:
        return Tr("The screen cannot be recorded: the desktop portal refused to share "
                  "the screen.");
    case CaptureFailure::StreamFailed:
        return Tr("The screen cannot be recorded: its video stream could not be "
                  "received from PipeWire.");
    default:
        return Tr("The screen cannot be captured.");
    }
}

QString AreaMissing(AreaFallback fallback) {
    if (fallback == AreaFallback::RegionOffSharedMonitor)
        return Tr("The chosen region lies on no part of the shared monitor, so the whole "
                  "monitor was recorded instead.");
    QString what;
    switch (fallback) {
    case AreaFallback::UnknownMonitor:
        what = Tr("The chosen monitor is not connected");
        break;
    case AreaFallback::WindowUnavailable:
        what = Tr("The chosen window could not be recorded (it was closed, or this X server "
                  "lacks the Composite extension)");
        break;
    default:
        what = Tr("The chosen region lies on no part of the screen");
    }
    return Tr("%1, so the primary screen was recorded instead.").arg(what);
}

QString WindowClosed() {
    return Tr("The recorded window was closed during the recording; the recording shows its "
              "last picture from then on.");
}

} // namespace notes
