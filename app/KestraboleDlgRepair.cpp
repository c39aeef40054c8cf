#include "app/KestraboleDlg.h"

#include "app/UserMessage.h"
#include "recorder/output/RecordingMarker.h"

// An AVI recording gets its index only when it is completed; one cut off by a
// crash, a kill or a power cut is completed here, beside the dialog, before
// anything new is recorded.
void CKestraboleDlg::RepairInterruptedRecordings() {
    connect(&m_repair, &RecordingRepair::finished, this, &CKestraboleDlg::ReportRepairs,
            Qt::UniqueConnection);
    m_repair.Start(RecordingMarker::Folder(), this,
                   tr("Repairing a recording that was cut off when the program last ended..."));
}

void CKestraboleDlg::ReportRepairs(const std::vector<CAviRepair::Outcome>& outcomes) {
    for (const CAviRepair::Outcome& outcome : outcomes) {
        const QString path = QString::fromStdString(outcome.path);
        switch (outcome.result) {
        case CAviRepair::Result::Repaired:
            ShowUserMessage(this, tr("The recording \"%1\" was cut off when the program last "
                                     "ended. It has been repaired and is kept under the same name.")
                                      .arg(path));
            break;
        case CAviRepair::Result::Failed:
            ShowUserMessage(this, tr("The recording \"%1\" was cut off when the program last ended "
                                     "and could not be repaired. It is kept unchanged under the "
                                     "same name.")
                                      .arg(path));
            break;
        case CAviRepair::Result::Cancelled:
            ShowUserMessage(this, tr("The repair of \"%1\" was cancelled. The recording is kept as "
                                     "it was and will be repaired at the next start.")
                                      .arg(path));
            break;
        }
    }
}
