// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window tests share: the answered message boxes, the addresses the
// windows asked the browser to open, and a program folder of a test's own.

#include "ui/MessageBoxes.h"

#include "support/TempDir.h"

#include <QApplication>
#include <QWidget>
#include <QDropEvent>
#include <QMimeData>
#include <QString>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

struct TShownMessage {
    QString Title;
    QString Text;
    TMsgKind Kind;
    QWidget* Owner = nullptr;
    QString Details;  // what the box shows on request
};

// Every box shown since the last clear (each answered with OK or No).
extern std::vector<TShownMessage> ShownMessages;
extern std::vector<QUrl> OpenedUrls;
// Lets message boxes be recorded in ShownMessages instead of shown (the default).
void RecordMessages();

// A fresh program folder for one test: AppDir, DataDir, SettingsFile and the
// settings point into it, and Job is cleared.
class TProgramFolder {
public:
    TProgramFolder();
    TempDir Dir;
    std::string Path() const { return Dir.Path(); }
};

inline QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// Drags urls onto a widget and drops them there.
inline void SendDrop(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

// The tests of each file; the main program runs them all.
int RunTextsOnWidgetsTests(int argc, char** argv);
int RunNewDialogTests(int argc, char** argv);
int RunMainWindowTests(int argc, char** argv);
int RunEndToEndTests(int argc, char** argv);
int RunInstanceTests(int argc, char** argv);

// The user folders of the run (HOME and the XDG folders point into it).
const std::string& TestHome();
