// SPDX-License-Identifier: GPL-3.0-or-later
// The folder picker and the shell folders, offscreen: the dialog is answered by
// a timer, and HOME points at a temporary folder.

#include "shell/ZQ_BrowseForFolder.h"
#include "shell/ZQ_ShellFolders.h"

#include "support/TempDir.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<TempDir> Home;

// Runs answer on the modal file dialog as soon as it is open (bounded wait).
void AnswerDialog(std::function<void(QFileDialog*)> answer)
{
    auto* timer = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, answer, started] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        } else if (started->elapsed() > 10000) {
            timer->stop();
            timer->deleteLater();
            QFAIL("the folder dialog did not open");
        }
    });
    timer->start(20);
}
} // namespace

class TBrowseForFolderTest : public QObject {
    Q_OBJECT
private slots:
    void opensOnTheInitialFolderAndReturnsTheChoice()
    {
        TempDir dir;
        const QString start = QString::fromStdString(dir.Path());
        QDir(start).mkdir("sub");
        QString seenDirectory;
        QString seenTitle;
        AnswerDialog([&](QFileDialog* dialog) {
            seenDirectory = dialog->directory().absolutePath();
            seenTitle = dialog->windowTitle();
            dialog->setDirectory(start + "/sub");
            static_cast<QDialog*>(dialog)->accept();
        });
        const QString chosen = BrowseForFolder("Select folder", start, nullptr);
        QCOMPARE(seenTitle, QString("Select folder"));
        QCOMPARE(QDir(seenDirectory).canonicalPath(), QDir(start).canonicalPath());
        QCOMPARE(QDir(chosen).canonicalPath(), QDir(start + "/sub").canonicalPath());
    }

    void cancelGivesEmptyText()
    {
        AnswerDialog([](QFileDialog* dialog) { dialog->reject(); });
        QVERIFY(BrowseForFolder("Wybierz katalog", QString(), nullptr).isEmpty());
    }

    void shellFoldersFollowTheUserFolders()
    {
        const std::string home = Home->Path();
        QCOMPARE(QString::fromStdString(ShellFolder("Desktop")), QString::fromStdString(home + "/Desktop"));
        QCOMPARE(QString::fromStdString(ShellFolder("Start Menu")),
                 QString::fromStdString(home + "/data/applications"));
        QVERIFY(ShellFolder("Favorites").empty());
    }
};

int main(int argc, char** argv)
{
    Home = std::make_unique<TempDir>();
    setenv("HOME", Home->Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Home->Path() + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (Home->Path() + "/data").c_str(), 1);
    unsetenv("XDG_DESKTOP_DIR");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TBrowseForFolderTest test;
    const int result = QTest::qExec(&test, argc, argv);
    Home.reset();
    return result;
}

#include "BrowseForFolderTest.moc"
