// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog's "Only the part you want" and "Follow this list", as the user
// works them (the real yt-dlp reads the pages on 127.0.0.1): a part of the
// video, chapters and sponsor segments reach the job; bad times and no
// category are said and start nothing; a followed list is kept with what it
// lists now counted as seen.
#include "app/DownloadJob.h"
#include "app/FollowTexts.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "download/FollowedPages.h"
#include "engine/PageEngine.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "ui/ClipChoicesBox.h"
#include "ui/MessageBoxes.h"
#include "ui/New.h"
#include "TextsFit.h"

#include <QCheckBox>
#include <QAction>
#include <QComboBox>
#include <QToolButton>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QLayout>
#include <QToolButton>
#include <QtTest>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string Mp4Bytes(char fill)
{
    return std::string("\0\0\0\x1C" "ftypmp42\0\0\0\0mp42isom", 24) + std::string(4000, fill);
}

struct TFolder {
    TFolder()
    {
        DataDir = dir.Path();
        AppDir = dir.Path();
        SettingsFile = dir.File("bmt.ini");
        InitSettings();
        AppSettings.LastDir = dir.File("videos");
        fs::create_directory(AppSettings.LastDir);
        TFormNew::FollowingFolder = dir.File("following");
        ClearJob(Job);
        ForgetPageLookUps();
        SetDetailedMessageHook([this](QWidget*, const QString&, const QString& text, TMsgKind kind, const QString&) {
            shown.push_back(text);
            return kind == TMsgKind::Question ? TMsgAnswer::Yes : TMsgAnswer::Ok;
        });
    }
    ~TFolder()
    {
        SetDetailedMessageHook({});
        TFormNew::FollowingFolder.clear();
        ForgetPageLookUps();
        AppSettings.LangPolish = false;
    }
    TempDir dir;
    std::vector<QString> shown;
};

struct TStarted {
    TFormNew::TJobStarter Starter()
    {
        return [this](const TDownloadJob& job) {
            jobs.push_back(job);
            return true;
        };
    }
    std::vector<TDownloadJob> jobs;
};

} // namespace

class TClipDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        home_ = std::make_unique<TempDir>();
        ::setenv("HOME", home_->Path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", home_->File("data").c_str(), 1);
    }

    void thePartWantedReachesTheJob()
    {
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        server.Serve("/page", "<html><head><title>Talk</title></head><body><video src=\"/a.mp4\"></video></body></html>");
        server.Serve("/a.mp4", Mp4Bytes('a'), "video/mp4");
        TStarted started;
        TFormNew f(nullptr, started.Starter());
        f.show();
        TClipChoicesBox* clip = f.gbClip;
        // Nothing of it is on to begin with.
        QVERIFY(!clip->chSection->isChecked());
        QVERIFY(!clip->edFrom->isEnabled());
        QVERIFY(!clip->chSplitChapters->isChecked());
        QVERIFY(!clip->chSponsor->isChecked());
        QVERIFY(!clip->cbSponsorMode->isEnabled());
        QCOMPARE(clip->title(), QString::fromUtf8(ClipChoicesTexts(false).gbClip));

        QTest::keyClicks(f.edURL, Q(server.Url("/page")));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QVERIFY(!f.edFileName->text().isEmpty());

        // An end before the start: said, nothing starts.
        clip->chSection->click();
        QVERIFY(clip->edFrom->isEnabled());
        QTest::keyClicks(clip->edFrom, "2:45");
        QTest::keyClicks(clip->edTo, "1:30");
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QVERIFY(started.jobs.empty());
        QCOMPARE(folder.shown.size(), size_t(1));
        QVERIFY2(folder.shown[0].contains("not after its start"), qPrintable(folder.shown[0]));

        // The sponsor segments with no kind ticked: said as well.
        clip->edFrom->clear();
        QTest::keyClicks(clip->edFrom, "1:30");
        clip->edTo->clear();
        QTest::keyClicks(clip->edTo, "2:45");
        clip->chSponsor->click();
        QVERIFY(clip->btnCategories->isEnabled());
        clip->actCategories[0]->trigger();
        QVERIFY(!clip->actCategories[0]->isChecked());
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QVERIFY(started.jobs.empty());
        QCOMPARE(folder.shown.size(), size_t(2));
        QCOMPARE(folder.shown[1], QString::fromUtf8(ClipChoicesTexts(false).NoCategory));

        // Marked as chapters, two kinds; one file per chapter; the part.
        clip->actCategories[0]->trigger();
        clip->actCategories[3]->trigger();
        clip->cbSponsorMode->setCurrentIndex(1);
        clip->chSplitChapters->click();
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QCOMPARE(started.jobs.size(), size_t(1));
        const TDownloadJob& job = started.jobs[0];
        QVERIFY(job.ThroughEngine);
        QCOMPARE(Q(job.Section), QString("90-165"));
        QVERIFY(job.SplitChapters);
        QCOMPARE(Q(job.Sponsor), QString("mark:sponsor,intro"));
        QVERIFY2(Q(job.OutputFile).endsWith(" [1m30s-2m45s].mp4"), qPrintable(Q(job.OutputFile)));
        // What reaches the download process: the same options.
        std::vector<std::string> args = JobToArgs(job, false);
        args.insert(args.begin(), "brimtale");
        const TDownloadJob sent = JobFromArgs(args);
        QCOMPARE(Q(sent.Section), QString("90-165"));
        QCOMPARE(Q(sent.Sponsor), QString("mark:sponsor,intro"));
        QVERIFY(sent.SplitChapters);
    }

    void textsInBothLanguages()
    {
        TFolder folder;
        TFormNew f(nullptr, {});
        AppSettings.LangPolish = true;
        f.SetLang();
        QCOMPARE(f.gbClip->title(), QString::fromUtf8("Tylko potrzebna część"));
        QCOMPARE(f.chFollow->text(), QString::fromUtf8(FollowTexts(true).chFollow));
        QCOMPARE(f.gbClip->cbSponsorMode->itemText(1), QString::fromUtf8("oznacz je jako rozdziały"));
        AppSettings.LangPolish = false;
        f.SetLang();
        QCOMPARE(f.chFollow->text(), QString("Follow this list"));
        QCOMPARE(f.gbClip->chSplitChapters->text(), QString::fromUtf8(ClipChoicesTexts(false).chSplitChapters));
        std::string error;
        QCOMPARE(Q(FollowFoundText(1, "L", false)), QString("1 new video from L"));
        QCOMPARE(Q(FollowFoundText(3, "L", true)), QString::fromUtf8("3 nowe filmy: L"));
        QCOMPARE(Q(FollowFoundText(5, "L", true)), QString::fromUtf8("5 nowych filmów: L"));
    }

    void followThisList()
    {
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        server.Serve("/list", "<html><head><title>My list</title></head><body><video src=\"/a.mp4\"></video>"
                              "<video src=\"/b.mp4\"></video></body></html>");
        for (const char* name : {"a", "b"})
            server.Serve(std::string("/") + name + ".mp4", Mp4Bytes(name[0]), "video/mp4");
        TStarted started;
        TFormNew f(nullptr, started.Starter());
        std::vector<std::string> followed;
        f.OnFollowed = [&](const std::string& url) { followed.push_back(url); };
        f.show();
        QTest::keyClicks(f.edURL, Q(server.Url("/list")));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QVERIFY(f.pnList->isVisible());
        QVERIFY(f.chFollow->isVisible());
        QVERIFY(!f.chFollow->isChecked());
        QVERIFY(!f.seLatest->isEnabled());
        f.chFollow->click();
        QVERIFY(f.seLatest->isEnabled());
        // Also the latest one listed now: left for the first check.
        f.seLatest->setValue(1);
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        // The first video now, as asked; the list is followed.
        QCOMPARE(started.jobs.size(), size_t(1));
        QCOMPARE(followed, std::vector<std::string>{server.Url("/list")});
        const std::string dir = folder.dir.File("following");
        const std::vector<TFollowedPage> pages = ReadFollowedPages(FollowedListFile(dir));
        QCOMPARE(pages.size(), size_t(1));
        QCOMPARE(Q(pages[0].Url), Q(server.Url("/list")));
        QCOMPARE(Q(pages[0].Directory), Q(folder.dir.File("videos")));
        TSeenList seen(SeenListFile(dir, server.Url("/list")));
        QCOMPARE(seen.Load(), TSeenList::TLoad::Ok);
        QVERIFY(!seen.Has(server.Url("/a.mp4")));
        QVERIFY(seen.Has(server.Url("/b.mp4")));
        // The list row's texts are whole at the dialog's smallest width, in both languages.
        for (bool polish : {false, true}) {
            AppSettings.LangPolish = polish;
            f.SetLang();
            f.show();
            f.resize(f.minimumWidth(), f.height());
            QVERIFY(f.pnList->isVisible());
            const QStringList unfitted = textsfit::Unfitted(&f);
            QVERIFY2(unfitted.isEmpty(), qPrintable(unfitted.join("; ")));
        }
        QVERIFY(folder.shown.empty());

        // Again: followed already, the download still goes, nothing is said twice.
        f.show();
        f.chFollow->click();
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QCOMPARE(started.jobs.size(), size_t(2));
        QCOMPARE(followed.size(), size_t(1));
        QCOMPARE(ReadFollowedPages(FollowedListFile(dir)).size(), size_t(1));
    }

private:
    std::unique_ptr<TempDir> home_;
};

QTEST_MAIN(TClipDialogTest)
#include "ClipDialogTest.moc"
