// Brimtale: saves the video behind a web page and converts it with ffmpeg.

#include "app/StartUp.h"
#include "download/GetMain.h"
#include "ui/Main.h"

#include <QApplication>

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
    TFormMain window;
    // The program ends with its main window, also when that was hidden in the tray.
    QObject::connect(&window, &TFormMain::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
