// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Following view as the user works it: Check now hands the
// new videos of each followed page to the downloads list, one notification per
// check that found something; a second check while one runs is said; Remove
// asks and forgets the page; the hours between checks come from the settings.
#include "app/DownloadJob.h"
#include "app/FollowTexts.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "download/FollowedPages.h"
#include "system/PrivateFolders.h"
#include "support/TempDir.h"
#include "ui/FollowingView.h"
#include "ui/MessageBoxes.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

TPageList List(const std::string& title, const std::vector<std::string>& names)
{
    TPageList list;
    list.IsList = names.size() >= 2;
    list.Title = title;
    for (const std::string& name : names)
        list.Entries.push_back({"http://127.0.0.1:9/" + name + ".mp4", name, "mp4"});
    return list;
}
} // namespace

class TFollowingViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        home_ = std::make_unique<TempDir>();
        qputenv("HOME", QByteArray(home_->Path().c_str()));
        DataDir = home_->Path();
        AppDir = home_->Path();
        SettingsFile = home_->File("bmt.ini");
        InitSettings();
        SetDetailedMessageHook([this](QWidget*, const QString&, const QString& text, TMsgKind kind, const QString&) {
            asked.push_back(text);
            return kind == TMsgKind::Question ? TMsgAnswer::Yes : TMsgAnswer::Ok;
        });
    }
    void cleanupTestCase() { SetDetailedMessageHook({}); }

    void checkNowHandsTheNewVideosOverAndSaysItOnce()
    {
        TempDir dir;
        const std::string following = dir.File("following");
        TFollowedPage a;
        a.Url = "http://127.0.0.1:9/a";
        a.Directory = dir.File("videos");
        TFollowedPage b;
        b.Url = "http://127.0.0.1:9/b";
        b.Directory = dir.File("videos");
        TFollowedPage gone;
        gone.Url = "http://127.0.0.1:9/gone";
        QCOMPARE(FollowPage(following, a, {"http://127.0.0.1:9/1.mp4", "http://127.0.0.1:9/2.mp4"}, 0), TFollowEdit::Done);
        QCOMPARE(FollowPage(following, gone, {}, 0), TFollowEdit::Done);
        QCOMPARE(FollowPage(following, b, {"http://127.0.0.1:9/x.mp4", "http://127.0.0.1:9/y.mp4"}, 0), TFollowEdit::Done);

        std::vector<TDownloadJob> started;
        TFollowingView view(nullptr, following, [&](const TDownloadJob& job) {
            started.push_back(job);
            return true;
        });
        std::vector<QString> notes;
        view.Notify = [&](const QString&, const QString& body) { notes.push_back(body); };
        std::atomic<bool> release{true};
        view.LookUp = [&](const std::string& url) {
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (url.ends_with("/a"))
                return List("Channel A", {"3", "1", "2"});
            if (url.ends_with("/b"))
                return List("Channel B", {"x", "y"});
            return List("", {"only"});  // a single video now
        };
        view.show();
        QCOMPARE(view.tbPages->rowCount(), 3);
        QCOMPARE(view.tbPages->item(0, 2)->text(), QString("never"));

        // A check that waits on the lists; a second one meanwhile is said.
        release = false;
        QSignalSpy checked(&view, &TFollowingView::checked);
        QTest::mouseClick(view.btnCheckNow, Qt::LeftButton);
        QVERIFY(view.Checking());
        QVERIFY(!view.btnCheckNow->isEnabled());
        QVERIFY(!view.CheckNow());
        QCOMPARE(view.lblStatus->text(), QString::fromUtf8(FollowTexts(false).CheckRunning));
        release = true;
        QVERIFY(checked.wait(20000));
        QVERIFY(!view.Checking());

        // Channel A's new video only; B had nothing new; the single video is said.
        QCOMPARE(started.size(), size_t(1));
        QCOMPARE(Q(started[0].MediaUrl), QString("http://127.0.0.1:9/3.mp4"));
        QCOMPARE(Q(fs::path(started[0].OutputFile).parent_path().string()), Q(dir.File("videos/Channel A")));
        QCOMPARE(notes.size(), size_t(1));
        QCOMPARE(notes[0], QString("1 new video from Channel A"));
        QVERIFY2(view.lblStatus->text().contains("lists no videos"), qPrintable(view.lblStatus->text()));
        QCOMPARE(view.tbPages->item(0, 3)->text(), QString("1"));
        QVERIFY(view.tbPages->item(0, 2)->text() != QString("never"));

        // Again: nothing twice, no notification.
        QTest::mouseClick(view.btnCheckNow, Qt::LeftButton);
        QVERIFY(checked.wait(20000));
        QCOMPARE(started.size(), size_t(1));
        QCOMPARE(notes.size(), size_t(1));

        // Remove: asked, then gone with what it had seen.
        view.tbPages->selectRow(1);
        asked.clear();
        QTest::mouseClick(view.btnRemove, Qt::LeftButton);
        QCOMPARE(asked.size(), size_t(1));
        QVERIFY(asked[0].contains("http://127.0.0.1:9/gone"));
        QCOMPARE(view.tbPages->rowCount(), 2);
        QVERIFY(!FindFollowedPage(ReadFollowedPages(FollowedListFile(following)), gone.Url));
        QVERIFY(!fs::exists(SeenListFile(following, gone.Url)));

        // A check of brimtale-cli holds the folder: the window's waits its turn.
        {
            const TFolderHold cli(following, FollowCheckHold);
            QCOMPARE(cli.Result(), TFolderHold::TResult::Held);
            QVERIFY(!view.CheckNow());
            QCOMPARE(view.lblStatus->text(), QString::fromUtf8(FollowTexts(false).CheckRunning));
        }
    }

    void theHoursBetweenChecks()
    {
        TempDir dir;
        const std::string ini = dir.File("bmt.ini");
        QCOMPARE(ReadFollowEveryHours(ini), 6);
        dir.Write("bmt.ini", "[Main]\r\nFollowEveryHours=0\r\n");
        QCOMPARE(ReadFollowEveryHours(ini), 0);
        dir.Write("bmt.ini", "[Main]\r\nFollowEveryHours=-3\r\n");
        QCOMPARE(ReadFollowEveryHours(ini), 6);
        dir.Write("bmt.ini", "[Main]\r\nFollowEveryHours=12\r\n");
        QCOMPARE(ReadFollowEveryHours(ini), 12);
        TFollowingView view(nullptr, dir.File("following"), {});
        view.SetEveryHours(0);
        QVERIFY(!view.tmCheck->isActive());
        view.SetEveryHours(6);
        QVERIFY(view.tmCheck->isActive());
        QCOMPARE(view.tmCheck->interval(), 6 * 3600 * 1000);
        // Polish texts.
        AppSettings.LangPolish = true;
        view.SetLang();
        QCOMPARE(view.btnCheckNow->text(), QString::fromUtf8("Sprawdź teraz"));
        QCOMPARE(view.tbPages->horizontalHeaderItem(3)->text(), QString::fromUtf8("Pobrane filmy"));
        AppSettings.LangPolish = false;
    }

private:
    std::unique_ptr<TempDir> home_;
    std::vector<QString> asked;
};

QTEST_MAIN(TFollowingViewTest)
#include "FollowingViewTest.moc"
