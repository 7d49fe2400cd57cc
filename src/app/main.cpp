// Orvalink: LAN group chat with a small mail engine.
#include "app/AutomationChannel.h"
#include "app/CMainFrame.h"
#include "app/COrvalinkApp.h"
#include "platform/MessageBox.h"
#include "platform/QtTranslations.h"
#include "platform/TerminationSignals.h"
#include "platform/text/Cp932.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace orvalink::app {

namespace {

// For tests that run the whole program: when ORVALINK_MESSAGEBOX_LOG names a file, message boxes
// are not shown but appended to it as "caption<TAB>text" lines in UTF-8 and answered with OK.
void installMessageBoxLog()
{
    const char* path = std::getenv("ORVALINK_MESSAGEBOX_LOG");
    if (!path || !*path)
        return;
    const std::string file = path;
    platform::setMessageBoxResponder([file](const platform::MessageBoxCall& call) {
        if (std::FILE* f = std::fopen(file.c_str(), "a")) {
            const std::string line =
                platform::cp932ToUtf8(call.caption) + "\t" + platform::cp932ToUtf8(call.text) + "\n";
            std::fwrite(line.data(), 1, line.size(), f);
            std::fclose(f);
        }
        return platform::IDOK;
    });
}

} // namespace

} // namespace orvalink::app

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::app;
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Orvalink");
    QApplication::setOrganizationName("Orvalink");
    platform::installQtJapanese(qapp);
    // The program lives in the notification area: hiding its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    installMessageBoxLog();

    platform::TerminationSignals termination;
    COrvalinkApp app;
    if (!app.initInstance())
        return 0;

    CMainFrame* frame = app.mainFrame();
    AutomationChannel::openFromEnvironment(frame, app.mailState());
    // The tray menu's exit, SIGTERM and SIGINT ask for the end inside some event: a menu's click, a
    // message box's loop. Every event loop is ended first (menus and dialogs return, their callers
    // finish), and the program shuts down in order once the outermost loop has returned, when
    // nothing that asked for it is still running.
    QObject::connect(&termination, &platform::TerminationSignals::terminationRequested, frame,
                     &CMainFrame::requestExit);
    QObject::connect(frame, &CMainFrame::exitRequested, &qapp, [] { QCoreApplication::exit(0); });
    const int status = QApplication::exec();
    frame->destroyWindow();
    // Windows closed by the shutdown are deleted before the application object goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
