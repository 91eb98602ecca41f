// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop notification of the Windows build, run under Wine: it returns at
// once, shows a balloon through one tray icon of the program's own (however
// many notifications come), and that icon is hidden again by itself. Without a
// tray it does nothing. Exit code 0 when all that holds.
#include "ui/DesktopNotify.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

namespace {

int failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

QList<QSystemTrayIcon*> Icons(const QApplication& app)
{
    return app.findChildren<QSystemTrayIcon*>();
}

// A body as hostile as a file name can make it: line breaks, a direction mark,
// markup, a surrogate pair at the cut, and far more than a balloon takes.
QString HostileBody()
{
    QString body = QStringLiteral("clip\r\n<b>&amp;</b>\u202Egpj.exe\t");
    while (body.size() < 253)
        body.append(QChar('x'));
    body.append(QString::fromUtf8("\xF0\x9F\x8E\xAC"));  // one character, two UTF-16 units
    body.append(QString(2000, QChar('y')));
    return body;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        DesktopNotify(QStringLiteral("Download finished"), QStringLiteral("clip.mp4"));
        Check(Icons(app).isEmpty(), "without a tray no icon is made");
        return failures == 0 ? 0 : 1;
    }

    QElapsedTimer took;
    took.start();
    DesktopNotify(QStringLiteral("Download finished"), HostileBody());
    Check(took.elapsed() < 3000, "the notification returns at once");
    Check(Icons(app).size() == 1 && Icons(app).front()->isVisible(), "one tray icon shows the balloon");

    DesktopNotify(QString(500, QChar('T')), QStringLiteral("clip2.mp4"));
    DesktopNotify(QString(), QString());
    Check(Icons(app).size() == 1 && Icons(app).front()->isVisible(), "later notifications use the same icon");

    // The icon goes by itself a little after the latest balloon; 30 s at most.
    const QList<QSystemTrayIcon*> icons = Icons(app);
    if (icons.size() == 1) {
        QSystemTrayIcon* icon = icons.front();
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &app, [&] {
            if (!icon->isVisible())
                app.quit();
        });
        look.start(100);
        QTimer::singleShot(30000, &app, &QApplication::quit);
        took.restart();
        app.exec();
        Check(!icon->isVisible(), "the icon is hidden again after the balloon");
        Check(took.elapsed() >= 5000, "the icon stays while the balloon shows");
    }
    return failures == 0 ? 0 : 1;
}
