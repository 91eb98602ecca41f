// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog with a page that lists several videos and with several addresses
// at once, as the user works it: the offer of the list and its choice, the jobs
// handed over in order with names of their own, a list of ten thousand
// videos while the dialog stays live, a pasted or dropped batch.
#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/Texts.h"
#include "system/OutputFiles.h"
#include "engine/PageEngine.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "ui/Main.h"
#include "ui/MessageBoxes.h"
#include "ui/New.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

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

// A program folder of the test's own; every box is recorded, and a question
// answered as the test says.
struct TFolder {
    TFolder()
    {
        DataDir = dir.Path();
        AppDir = dir.Path();
        SettingsFile = dir.File("bmt.ini");
        InitSettings();
        AppSettings.LastDir = dir.File("videos");
        fs::create_directory(AppSettings.LastDir);
        ClearJob(Job);
        ForgetPageLookUps();
        SetDetailedMessageHook(
            [this](QWidget*, const QString&, const QString& text, TMsgKind kind, const QString& detailsShown) {
                shown.push_back({text, kind});
                details.push_back(detailsShown);
                return kind == TMsgKind::Question ? (answerYes ? TMsgAnswer::Yes : TMsgAnswer::No) : TMsgAnswer::Ok;
            });
    }
    ~TFolder()
    {
        SetDetailedMessageHook({});
        PageEngineOverride.reset();
        ForgetPageLookUps();
        AppSettings.LangPolish = false;
    }
    std::string Videos() const { return dir.File("videos"); }

    TempDir dir;
    bool answerYes = true;
    std::vector<std::pair<QString, TMsgKind>> shown;
    std::vector<QString> details;  // of each box shown
};

// The jobs a dialog hands over, in order.
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

class TListDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        home_ = std::make_unique<TempDir>();
        qputenv("HOME", QByteArray(home_->Path().c_str()));
        qputenv("XDG_DATA_HOME", QByteArray(home_->File("data").c_str()));
    }

    void aListIsOfferedAndEveryVideoBecomesAJob_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    void aListIsOfferedAndEveryVideoBecomesAJob()
    {
        QFETCH(bool, polish);
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TFolder folder;
        AppSettings.LangPolish = polish;
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        server.Serve("/list", "<html><head><title>My list</title></head><body><video src=\"/a.mp4\"></video>"
                              "<video src=\"/b.mp4\"></video><video src=\"/c.mp4\"></video></body></html>");
        for (const char* name : {"a", "b", "c"})
            server.Serve(std::string("/") + name + ".mp4", Mp4Bytes(name[0]), "video/mp4");
        TStarted started;
        TFormNew f(nullptr, started.Starter());
        f.show();
        QVERIFY(f.pnList->isHidden());

        QTest::keyClicks(f.edURL, Q(server.Url("/list")));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QVERIFY(f.pnList->isVisible());
        QCOMPARE(f.lblList->text(), Q(PageListText(3, polish)));
        QCOMPARE(f.rbListAll->text(), QString::fromUtf8(ListTexts(polish).rbListAll));
        QVERIFY(f.rbListFirst->isChecked());  // as before, unless the user says otherwise
        QVERIFY(!f.edFileName->text().isEmpty());

        // All of them: three jobs in the list's order, in its folder, each
        // name held at once.
        QTest::mouseClick(f.rbListAll, Qt::LeftButton);
        QVERIFY(f.rbListAll->isChecked());
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QCOMPARE(started.jobs.size(), size_t(3));
        QVERIFY(!f.isVisible());
        const char* names[] = {"a", "b", "c"};
        for (std::size_t i = 0; i < 3; ++i) {
            const TDownloadJob& job = started.jobs[i];
            QCOMPARE(Q(job.MediaUrl), Q(server.Url(std::string("/") + names[i] + ".mp4")));
            QVERIFY(job.ThroughEngine);
            QCOMPARE(Q(fs::path(job.OutputFile).parent_path().string()), Q(folder.Videos() + "/My list"));
            QVERIFY(IsOutputNameTaken(job.OutputFile));
        }
        QVERIFY(folder.shown.empty());

        // Only the first: the page itself, one job, into the directory.
        f.show();
        QVERIFY(f.pnList->isVisible());
        QTest::mouseClick(f.rbListFirst, Qt::LeftButton);
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QCOMPARE(started.jobs.size(), size_t(4));
        QCOMPARE(Q(started.jobs[3].MediaUrl), Q(server.Url("/list")));
        QCOMPARE(Q(fs::path(started.jobs[3].OutputFile).parent_path().string()), Q(folder.Videos()));

        // Another address: the offer goes.
        f.show();
        f.edURL->selectAll();
        QTest::keyClicks(f.edURL, "http://127.0.0.1:9/other");
        QVERIFY(f.pnList->isHidden());
    }

    void tenThousandVideosStayResponsive()
    {
        TFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        server.Serve("/big", "<html><head><title>Big</title></head><body>videos</body></html>");
        // The engine's answer: ten thousand videos of one title.
        constexpr int Count = 10000;
        std::string json = "{\"_type\": \"playlist\", \"title\": \"Big\", \"entries\": [";
        for (int i = 0; i < Count; ++i)
            json += std::string(i ? "," : "") + "{\"title\": \"Same\", \"ext\": \"mp4\", \"url\": " +
                    "\"http://127.0.0.1:9/v/" + std::to_string(i) + ".mp4\"}";
        json += "]}";
        folder.dir.Write("answer.json", json);
        const std::string engine = folder.dir.Write("engine", "#!/bin/sh\ncat '" + folder.dir.File("answer.json") + "'\n");
        ::chmod(engine.c_str(), 0755);
        PageEngineOverride = engine;

        TStarted started;
        TFormNew f(nullptr, started.Starter());
        f.show();
        QTest::keyClicks(f.edURL, Q(server.Url("/big")));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QVERIFY(f.pnList->isVisible());
        QCOMPARE(f.lblList->text(), Q(PageListText(Count, false)));
        QTest::mouseClick(f.rbListAll, Qt::LeftButton);

        // A timer of the window keeps its pace while the jobs are made and handed over.
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        int ticks = 0;
        QTimer pulse;
        pulse.setInterval(20);
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
            ++ticks;
        });
        clock.start();
        pulse.start();
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        pulse.stop();
        longest = std::max(longest, clock.elapsed() - last);
        qInfo("%d jobs made and handed over in %lld ms; the window's timer ran %d times, longest gap %lld ms", Count,
              static_cast<long long>(clock.elapsed()), ticks, static_cast<long long>(longest));
        QCOMPARE(int(started.jobs.size()), Count);
        std::set<std::string> names;
        for (const TDownloadJob& job : started.jobs)
            names.insert(job.OutputFile);
        QCOMPARE(int(names.size()), Count);
        QVERIFY(!f.isVisible());
        // Never still for long: the naming runs off the window's thread, the
        // hand-over in slices.
        QVERIFY2(longest < 2000, qPrintable(QString("longest gap %1 ms").arg(longest)));
    }

    void escStopsTheRestAndGivesTheirNamesBack()
    {
        TFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Serve("/many", "<html><head><title>Many</title></head><body>videos</body></html>");
        std::string json = "{\"_type\": \"playlist\", \"title\": \"Many\", \"entries\": [";
        for (int i = 0; i < 1000; ++i)
            json += std::string(i ? "," : "") + "{\"title\": \"V" + std::to_string(i) +
                    "\", \"ext\": \"mp4\", \"url\": \"http://127.0.0.1:9/v/" + std::to_string(i) + ".mp4\"}";
        json += "]}";
        folder.dir.Write("answer.json", json);
        const std::string engine = folder.dir.Write("engine", "#!/bin/sh\ncat '" + folder.dir.File("answer.json") + "'\n");
        ::chmod(engine.c_str(), 0755);
        PageEngineOverride = engine;

        TFormNew* form = nullptr;
        std::vector<TDownloadJob> jobs;
        TFormNew f(nullptr, [&](const TDownloadJob& job) {
            jobs.push_back(job);
            // The user presses Esc while the downloads are handed over.
            if (jobs.size() == 150)
                QTest::keyClick(form, Qt::Key_Escape);
            return true;
        });
        form = &f;
        f.show();
        QTest::keyClicks(f.edURL, Q(server.Url("/many")));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QVERIFY(f.pnList->isVisible());
        QTest::mouseClick(f.rbListAll, Qt::LeftButton);
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        QVERIFY(!f.isVisible());
        // The slice under way ends; the rest never start, and their names are free.
        QCOMPARE(int(jobs.size()), TFormNew::HandOverSlice * 2);
        int held = 0;
        for (const auto& entry : fs::directory_iterator(folder.Videos() + "/Many"))
            held += entry.path().filename().string().front() == '.';
        QCOMPARE(held, int(jobs.size()));
        QVERIFY(!f.Busy());
    }

    void aPastedBatchIsOneJobPerAddressAfterOneQuestion_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    void aPastedBatchIsOneJobPerAddressAfterOneQuestion()
    {
        QFETCH(bool, polish);
        TFolder folder;
        AppSettings.LangPolish = polish;
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        server.Serve("/files/one.mp4", Mp4Bytes('1'), "video/mp4");
        server.Serve("/files/two.mp4", Mp4Bytes('2'), "video/mp4");
        const std::string one = server.Url("/files/one.mp4");
        const std::string two = server.Url("/files/two.mp4");
        TStarted started;
        TFormNew f(nullptr, started.Starter());
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));

        // Pasted into the address with Ctrl+V; the text between is no address.
        QGuiApplication::clipboard()->setText(Q(one + "\r\nsome words\n\n  " + two + "  \n"));
        f.edURL->setFocus();
        folder.answerYes = false;
        QTest::keyClick(f.edURL, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(folder.shown.size(), size_t(1), 5000);
        QCOMPARE(folder.shown[0].first, Q(BatchQuestion(2, polish)));
        QCOMPARE(int(folder.shown[0].second), int(TMsgKind::Question));
        QVERIFY(started.jobs.empty());  // No: nothing
        QVERIFY(!f.edURL->text().contains('\n'));

        // Yes: one job each, in order, named from each address.
        folder.shown.clear();
        folder.answerYes = true;
        f.edURL->clear();
        QTest::mouseClick(f.btnPasteUrl, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(started.jobs.size(), size_t(2), 30000);
        QCOMPARE(folder.shown.size(), size_t(1));
        QCOMPARE(Q(started.jobs[0].MediaUrl), Q(one));
        QCOMPARE(Q(started.jobs[1].MediaUrl), Q(two));
        QCOMPARE(Q(started.jobs[0].OutputFile), Q(folder.Videos() + "/one.mp4"));
        QCOMPARE(Q(started.jobs[1].OutputFile), Q(folder.Videos() + "/two.mp4"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible(), 5000);

        // An address that can't be added is named at the end; the others go on.
        started.jobs.clear();
        folder.shown.clear();
        f.show();
        QGuiApplication::clipboard()->setText(Q(testhttp::ClosedPortUrl("/gone.mp4") + "\n" + one + "\n"));
        QTest::mouseClick(f.btnPasteUrl, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(folder.shown.size(), size_t(2), 30000);
        QCOMPARE(started.jobs.size(), size_t(1));
        QCOMPARE(Q(started.jobs[0].OutputFile), Q(folder.Videos() + "/one_01.mp4"));
        QVERIFY(folder.shown[1].first.startsWith(QString::fromUtf8(ListTexts(polish).BatchFailed)));
        QVERIFY(folder.shown[1].first.contains(Q(testhttp::ClosedPortUrl("/gone.mp4"))));
        QVERIFY(f.isVisible());
    }

    void aBatchSaysWhyAnAddressFailedInTheProgramsWords_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    // Addresses of a batch the server answers with 404 or that are files of
    // no media: named at the end in the program's words, the engine's own
    // line only in the message's details.
    void aBatchSaysWhyAnAddressFailedInTheProgramsWords()
    {
        QFETCH(bool, polish);
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TFolder folder;
        AppSettings.LangPolish = polish;
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        server.Serve("/files/one.mp4", Mp4Bytes('1'), "video/mp4");
        std::string binary;
        for (int i = 0; i < 64 * 1024; ++i)
            binary += static_cast<char>(i % 256);
        server.Serve("/files/data.bin", binary, "application/octet-stream");
        const std::string missing = server.Url("/missing");
        const std::string file = server.Url("/files/data.bin");
        const std::string one = server.Url("/files/one.mp4");
        TStarted started;
        TFormNew f(nullptr, started.Starter());
        f.show();
        QGuiApplication::clipboard()->setText(Q(missing + "\n" + file + "\n" + one + "\n"));
        QTest::mouseClick(f.btnPasteUrl, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(folder.shown.size(), size_t(2), 90000);
        QCOMPARE(started.jobs.size(), size_t(1));
        QCOMPARE(Q(started.jobs[0].MediaUrl), Q(one));
        const QString told = folder.shown[1].first;
        QVERIFY2(told.startsWith(QString::fromUtf8(ListTexts(polish).BatchFailed)), qPrintable(told));
        const QString notThere = polish ? QString::fromUtf8("Serwer podaje, że ten adres nie istnieje (404).")
                                        : QString("The server says this address does not exist (404).");
        QVERIFY2(told.contains(Q(missing) + "\n    " + notThere), qPrintable(told));
        const QString noMedia =
            QString::fromUtf8(polish ? "Pod tym adresem jest plik, który nie jest filmem ani muzyką."
                                     : "This address gives a file that is no video or music.");
        QVERIFY2(told.contains(Q(file) + "\n    " + noMedia), qPrintable(told));
        for (const char* engines : {"report", "yt-dlp", "HTTP Error", "[generic]", "Invalid data"})
            QVERIFY2(!told.contains(QString::fromUtf8(engines)), qPrintable(told));
        QVERIFY2(folder.details[1].contains(Q(missing)) && folder.details[1].contains("HTTP Error 404"),
                 qPrintable(folder.details[1]));
        AppSettings.LangPolish = false;
    }

    void addressesDroppedOnTheMainWindowAreABatch()
    {
        TFolder folder;
        folder.answerYes = false;
        TFormMain w;
        w.show();
        QMimeData mime;
        mime.setUrls({QUrl("http://127.0.0.1:9/a"), QUrl("http://127.0.0.1:9/b"), QUrl("http://127.0.0.1:9/c")});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &drop);
        QTRY_COMPARE_WITH_TIMEOUT(folder.shown.size(), size_t(1), 5000);
        QCOMPARE(folder.shown[0].first, Q(BatchQuestion(3, false)));
        QVERIFY(w.FormNew()->isVisible());
    }

    void theOptionsTabKeepsTheListFolderSetting()
    {
        TFolder folder;
        TFormMain w;
        w.show();
        QVERIFY(w.chListFolder->isChecked());  // on at first
        QCOMPARE(w.chListFolder->text(), QString::fromUtf8(ListTexts(false).chListFolder));
        QTest::mouseClick(w.chListFolder, Qt::LeftButton);
        QVERIFY(!AppSettings.ListInFolder);
        AppSettings.ListInFolder = true;
        LoadSettings(SettingsFile);
        QVERIFY(!AppSettings.ListInFolder);
    }

private:
    std::unique_ptr<TempDir> home_;
};

QTEST_MAIN(TListDialogTest)
#include "ListDialogTest.moc"
