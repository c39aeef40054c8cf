#include "app/KestraboleDlg.h"

#include "app/UserMessage.h"
#include "recorder/output/AviRepair.h"
#include "recorder/output/RecordingMarker.h"

// An AVI recording gets its index only when it is completed; one cut off by a
// crash, a kill or a power cut is completed here, before anything new is recorded.
void CKestraboleDlg::RepairInterruptedRecordings() {
    for (const CAviRepair::Outcome& outcome :
         CAviRepair::RepairInterrupted(RecordingMarker::Folder())) {
        const QString path = QString::fromStdString(outcome.path);
        ShowUserMessage(this,
                        outcome.repaired
                            ? tr("The recording \"%1\" was cut off when the program last ended. It "
                                 "has been repaired and is kept under the same name.")
                                  .arg(path)
                            : tr("The recording \"%1\" was cut off when the program last ended and "
                                 "could not be repaired. It is kept unchanged under the same name.")
                                  .arg(path));
    }
}
