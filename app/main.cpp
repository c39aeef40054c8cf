#include "app/CommandLine.h"
#include "app/DisplayPlatform.h"
#include "app/KestraboleApp.h"
#include "app/Resources.h"

#include <QApplication>
#include <iostream>

int main(int argc, char* argv[]) {
    CommandLine commandLine({argv, argv + argc});
    if (auto end = commandLine.Handle(std::cout, std::cerr))
        return *end;
    commandLine.ExportDisplay();
    if (!PrepareDisplayPlatform())
        return ReportMissingXDisplay(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrabole"));
    QApplication::setApplicationVersion(QStringLiteral(TESMARA_VERSION));
    QApplication::setWindowIcon(resources::ProgramIcon());
    // The dialog hides behind the tray icon while recording; that is not the end.
    QApplication::setQuitOnLastWindowClosed(false);

    CKestraboleApp theApp;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
