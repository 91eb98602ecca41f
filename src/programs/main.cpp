// Brimtale: saves the video behind a web page and converts it with ffmpeg.

#include "app/StartUp.h"
#include "ui/GetMain.h"
#include "ui/Main.h"
#include "ui/RunningInstance.h"

#include <QApplication>
#include <QTimer>

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv, argv + argc);
    const TRunMode mode = StartUp(args);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Brimtale");
    QApplication::setQuitOnLastWindowClosed(true);

    if (mode == TRunMode::Download) {
        TFormGetMain window;
        window.show();
        return QApplication::exec();
    }

    // An address for a program of the user's that runs already goes there; this
    // start then has nothing more to do.
    if (!StartAddress.empty() && SendToRunningInstance(StartAddress))
        return 0;

    TFormMain window;
    // The program ends with its main window, also when that was hidden in the tray.
    QObject::connect(&window, &TFormMain::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    TInstanceServer instances;
    QObject::connect(
        &instances, &TInstanceServer::addressReceived, &window,
        [&window](const QByteArray& address) { window.OpenHandedAddress(address.toStdString()); },
        Qt::QueuedConnection);
    instances.Listen();
    window.show();
    if (!StartAddress.empty())
        QTimer::singleShot(0, &window, [&window] { window.OpenAddress(StartAddress); });
    return QApplication::exec();
}
