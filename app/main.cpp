#include "app/CommandLine.h"
#include "app/DisplayPlatform.h"
#include "app/KestraboleApp.h"
#include "app/RemoteCommand.h"
#include "app/Resources.h"
#include "hooklib/ThisThread.h"

#include <QApplication>
#include <iostream>

int main(int argc, char* argv[]) {
    CommandLine commandLine({argv, argv + argc});
    if (auto end = commandLine.Handle(std::cout, std::cerr))
        return *end;
    const RemoteRequest& remote = commandLine.Remote();
    if (remote.command != RemoteRequest::Command::None)
        if (auto end = SendRemoteCommand(remote, commandLine.ProgramName(), std::cout, std::cerr))
            return *end;
    commandLine.ExportDisplay();
    if (!PrepareDisplayPlatform())
        return ReportMissingXDisplay(argc, argv);
    if (!XDisplayOpens())
        return ReportUnreachableXDisplay();
    // The dialog's thread and Qt's event reader answer presses, F9 and the tray;
    // the threads a recording starts later (the encoder's among them) do not.
    thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
    QApplication application(argc, argv);
    thisthread::AnswerPromptly(thisthread::LaterThreads::StartPlain);
    QApplication::setApplicationName(QStringLiteral("Kestrabole"));
    QApplication::setApplicationVersion(QStringLiteral(TESMARA_VERSION));
    QApplication::setWindowIcon(resources::ProgramIcon());
    // The dialog hides behind the tray icon while recording; that is not the end.
    QApplication::setQuitOnLastWindowClosed(false);

    CKestraboleApp theApp;
    // A --start that found no recorder running: this one records at once.
    if (remote.command == RemoteRequest::Command::Start)
        theApp.m_startOnOpen = remote;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
