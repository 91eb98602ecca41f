// SPDX-License-Identifier: GPL-3.0-or-later
// Brimtale: saves the video behind a web page and converts it with ffmpeg.

#include "app/StartUp.h"
#include "app/Settings.h"
#include "engine/EngineDownload.h"
#include "download/JobList.h"
#include "programs/AddCommand.h"
#include "engine/EngineOptions.h"
#include "ui/DownloadList.h"
#include "ui/GetMain.h"
#include "ui/Main.h"
#include "ui/RunningInstance.h"

#include <QApplication>
#include <QLocalSocket>
#include <QTimer>

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv, argv + argc);
    const TRunMode mode = StartUp(args);

    // "--add": the addresses go to the running program's queue.
    if (mode == TRunMode::Interactive && IsAddCommand(args)) {
        QCoreApplication core(argc, argv);
        return RunAddCommand(args);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Brimtale");
    QApplication::setQuitOnLastWindowClosed(true);

    if (mode == TRunMode::Download) {
        TFormGetMain window;
        // A job of the program's list tells the program how it goes.
        const std::optional<TListedStart> listed = ListedStartOf(args);
        if (listed)
            window.AttachToList(listed->Id, listed->ShowWindow, listed->Resume, InstanceSocketPath());
        // One of many jobs opens no window: the list shows it, and its row's
        // "Show its window" brings the window up.
        if (!listed || listed->ShowWindow)
            window.show();
        else
            window.Begin();
        return QApplication::exec();
    }

    // An address for a program of the user's that runs already goes there; this
    // start then has nothing more to do.
    if (!StartAddress.empty() && SendToRunningInstance(StartAddress))
        return 0;

    // What earlier runs that were killed left behind: private folders and
    // copies of cookies (nothing a live process holds).
    RemoveStaleTempDirs();
    if (!AppSettings.LastDir.empty())
        ClearStaleEngineFolders(AppSettings.LastDir);

    TFormMain window;
    // The program ends with its main window, also when that was hidden in the tray.
    QObject::connect(&window, &TFormMain::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    TInstanceServer instances;
    QObject::connect(
        &instances, &TInstanceServer::addressReceived, &window,
        [&window](const QByteArray& address) { window.OpenHandedAddress(address.toStdString()); },
        Qt::QueuedConnection);
    QObject::connect(&instances, &TInstanceServer::addReceived, &window,
                     [&window](const QByteArray& request) { window.AddHandedAddresses(request.toStdString()); });
    QObject::connect(&instances, &TInstanceServer::reportReceived, &window,
                     [&window](const TJobReport& report, QLocalSocket* connection) {
                         window.Queue()->TakeReport(report, connection);
                     });
    instances.Listen();
    window.show();
    if (!StartAddress.empty())
        QTimer::singleShot(0, &window, [&window] { window.OpenAddress(StartAddress); });
    return QApplication::exec();
}
