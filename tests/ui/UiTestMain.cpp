// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the window tests offscreen, with HOME and the XDG folders in a temporary
// folder so that nothing reaches the real desktop, and every message box
// answered by the hook.

#include "UiTestSupport.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "ui/Main.h"
#include "ui/New.h"

#include <QApplication>

#include <cstdlib>
#include <sys/stat.h>

std::vector<TShownMessage> ShownMessages;
std::vector<QUrl> OpenedUrls;

namespace {
std::unique_ptr<TempDir> Home;
}

const std::string& TestHome()
{
    return Home->Path();
}

TProgramFolder::TProgramFolder()
{
    InitAppDirsFor(Dir.Path());
    SettingsFile = DataDir + "/bmt.ini";
    InitSettings();
    ClearJob(Job);
    UpdatingControls = false;
    ShownMessages.clear();
    OpenedUrls.clear();
}

void RecordMessages()
{
    SetDetailedMessageHook(
        [](QWidget* owner, const QString& title, const QString& text, TMsgKind kind, const QString& details) {
            ShownMessages.push_back({title, text, kind, owner, details});
            return kind == TMsgKind::Question ? TMsgAnswer::No : TMsgAnswer::Ok;
        });
}

int main(int argc, char** argv)
{
    Home = std::make_unique<TempDir>();
    setenv("HOME", Home->Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Home->Path() + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (Home->Path() + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Home->Path() + "/cache").c_str(), 1);
    unsetenv("XDG_DESKTOP_DIR");
    // The running-program socket lives in the runtime folder: a private one, so
    // that no test reaches a Brimtale of the user's.
    const std::string runtime = Home->Path() + "/runtime";
    ::mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // Download processes started by the tests show no boxes.
    setenv("BRIMTALE_AUTO_ANSWER", "no", 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The page engine is a Python program: on a busy machine its look-up alone
    // may take longer than a user's step is given. The test of the limit sets
    // its own.
    TFormNew::NetworkStepSeconds = 120;

    QApplication app(argc, argv);
    RecordMessages();
    OpenUrlInBrowser = [](const QUrl& url) { OpenedUrls.push_back(url); };
    // No tray unless a test brings one.
    SystemTrayAvailable = [] { return false; };

    int failed = 0;
    failed += RunTextsOnWidgetsTests(argc, argv) != 0;
    failed += RunNewDialogTests(argc, argv) != 0;
    failed += RunMainWindowTests(argc, argv) != 0;
    failed += RunEndToEndTests(argc, argv) != 0;
    failed += RunInstanceTests(argc, argv) != 0;

    SetDetailedMessageHook({});
    Home.reset();
    return failed;
}
