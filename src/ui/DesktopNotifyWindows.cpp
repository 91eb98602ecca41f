// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications on Windows: a balloon of a tray icon of the program's
// own (there is no session bus). The icon is made on the first notification,
// shown for the balloon and hidden again a little after it; each process has
// at most one, owned by the application. Without a tray nothing happens.
#include "ui/DesktopNotify.h"

#include "ui/WindowParts.h"

#include <QApplication>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

namespace {

// How long the balloon asks to stay (Windows may keep it shorter or longer,
// by the user's settings), and when the icon goes after the latest one.
constexpr int BalloonMs = 8000;
constexpr int IconHideMs = BalloonMs + 2000;
// What a balloon takes: 63 characters of title and 255 of text (NOTIFYICONDATAW).
constexpr qsizetype TitleMax = 63;
constexpr qsizetype TextMax = 255;

// Control and format characters (a file name's line breaks, a direction mark)
// become spaces, and a text longer than the balloon takes is cut here, with an
// ellipsis, rather than by the system.
QString BalloonText(const QString& text, qsizetype max)
{
    QString shown;
    shown.reserve(std::min(text.size(), max));
    for (const QChar c : text)
        shown.append(c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ? QChar(' ') : c);
    if (shown.size() > max) {
        shown.truncate(max - 1);
        // A surrogate pair is never split.
        if (!shown.isEmpty() && shown.back().isHighSurrogate())
            shown.chop(1);
        shown.append(QChar(0x2026));
    }
    return shown;
}

struct TBalloonIcon {
    QPointer<QSystemTrayIcon> Icon;
    QPointer<QTimer> Hide;
};

TBalloonIcon& BalloonIcon()
{
    static TBalloonIcon balloon;
    return balloon;
}

} // namespace

void DesktopNotify(const QString& summary, const QString& body)
{
    // Only a program with windows has a tray icon to give.
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    TBalloonIcon& balloon = BalloonIcon();
    if (!balloon.Icon) {
        auto* icon = new QSystemTrayIcon(ApplicationIcon(), app);
        icon->setToolTip(QStringLiteral("Brimtale"));
        auto* hide = new QTimer(icon);
        hide->setSingleShot(true);
        QObject::connect(hide, &QTimer::timeout, icon, &QSystemTrayIcon::hide);
        // A click on the balloon has been seen: the icon has done its part.
        QObject::connect(icon, &QSystemTrayIcon::messageClicked, icon, &QSystemTrayIcon::hide);
        balloon.Icon = icon;
        balloon.Hide = hide;
    }
    balloon.Icon->show();
    balloon.Icon->showMessage(BalloonText(summary, TitleMax), BalloonText(body, TextMax),
                              QSystemTrayIcon::Information, BalloonMs);
    balloon.Hide->start(IconHideMs);
}
