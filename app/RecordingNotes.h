#pragma once

#include "recorder/capture/CaptureBackend.h"
#include "recorder/output/RecordingTarget.h"
#include "recorder/sound/SoundSource.h"
#include "session/HookHostProcess.h"
#include "settings/AreaChoice.h"

#include <QString>
#include <string>

// The texts that tell the user why a recording could not be made, or not made
// whole. Paths in them are shortened, so that every box fits the screen.
namespace notes {

// At most kPathCharacters characters: the start and the end of the path kept, the
// middle replaced by an ellipsis.
constexpr int kPathCharacters = 90;
QString ShortPath(const QString& path);
QString ShortPath(const std::u16string& path);

QString TargetProblem(RecordingTargetProblem problem, const std::u16string& path);
QString DiskFull(const std::u16string& path, bool anyFrames);
QString NothingRecorded(const std::u16string& path);
QString HelperFailed(const HookHostProcess::Failure& failure, const std::string& store);
QString StopKeyOnly();
// A sound device asked for could not be opened at the start; anySound: another one was.
QString NoSound(SoundProblem problem, bool anySound);
// A sound device stopped delivering during the recording.
QString SoundInterrupted();
QString SettingsNotSaved(const std::u16string& path);
// Why the screen's pictures could not be had.
QString CaptureFailed(CaptureFailure failure);
// The chosen monitor, region or window could not be had; the primary screen was recorded.
QString AreaMissing(AreaFallback fallback);
// The recorded window went away before the stop.
QString WindowClosed();

} // namespace notes
