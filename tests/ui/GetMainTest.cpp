// SPDX-License-Identifier: GPL-3.0-or-later
// The download window in-process: texts, outcome states, Abort and Auto close,
// against the loopback test server.

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ConRun.h"
#include "ui/GetMain.h"
#include "engine/EngineDownload.h"
#include "download/GetMainTexts.h"
#include "download/JobList.h"
#include "system/ZQ_FileSystem.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "TextsFit.h"
#include "ui/DownloadList.h"
#include "ui/MessageBoxes.h"
#include "ui/RunningInstance.h"
#include "ui/StatusLabel.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QProgressBar>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <sys/stat.h>

using testhttp::Response;

namespace {
// The download window's texts that do not fit (textsfit::Unfitted), and
// besides: the size line and the speed, which share a row, running into each
// other, and buttons of the bottom row on top of each other or of Auto close.
QStringList Unfitted(const TFormGetMain& w)
{
    QStringList bad = textsfit::Unfitted(&w);
    if (w.lblSize->isVisible() && !w.lblSize->text().isEmpty() && !w.lblSpeed->text().isEmpty()) {
        const QFontMetrics metrics(w.lblSize->font());
        const int need = metrics.horizontalAdvance(w.lblSize->text() + "  " + w.lblSpeed->text());
        if (need > w.lblSize->contentsRect().width())
            bad << "size and speed \"" + w.lblSize->text() + "\" \"" + w.lblSpeed->text() + "\"";
    }
    const QList<QWidget*> row = {w.chAutoClose, w.btnRetry, w.btnAbort};
    for (int i = 0; i < row.size(); ++i)
        for (int j = i + 1; j < row.size(); ++j)
            if (row[i]->isVisible() && row[j]->isVisible() && row[i]->geometry().intersects(row[j]->geometry()))
                bad << row[i]->metaObject()->className() + QString(" over ") + row[j]->metaObject()->className();
    return bad;
}
} // namespace

class GetMainTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<testhttp::TestHttpServer> server_;
    QStringList questions_;
    bool answerYes_ = false;

    TDownloadJob MakeJob(const std::string& mediaPath, std::int32_t expected, const std::string& out = "out.flv")
    {
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = "http://www.youtube.com/watch?v=abc";
        job.MediaUrl = server_->Url(mediaPath);
        job.OutputFile = dir_->File(out);
        job.ExpectedSize = expected;
        job.EncoderParams = "-";
        job.EncoderExt = "-";
        job.TargetExt = "-";
        return job;
    }

private slots:
    void init()
    {
        TFormGetMain::RetryPauseMs = 20; // tries after a break follow each other quickly here
        dir_ = std::make_unique<TempDir>();
        server_ = std::make_unique<testhttp::TestHttpServer>();
        InitAppDirsFor(dir_->Path());
        SettingsFile = dir_->File("bmt.ini");
        InitSettings();
        AppSettings.LangPolish = false;
        dir_->Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        questions_.clear();
        SetMessageHook([this](QWidget*, const QString& title, const QString& text, TMsgKind kind) {
            questions_ << title + "|" + text;
            if (kind != TMsgKind::Question)
                return TMsgAnswer::Ok;
            return answerYes_ ? TMsgAnswer::Yes : TMsgAnswer::No;
        });
    }

    void cleanup()
    {
        SetMessageHook({});
        server_.reset();
        dir_.reset();
    }

    void textsInBothLanguages()
    {
        TFormGetMain english(MakeJob("/m", 0));
        QCOMPARE(english.lblFile->text(), QString("File:"));
        QCOMPARE(english.lblInfoProgress->text(), QString("Progress:"));
        QCOMPARE(english.chAutoClose->text(), QString("Auto close"));
        QCOMPARE(english.btnAbort->text(), QString("Abort"));
        QCOMPARE(english.Caption(), QString("Downloading..."));
        QCOMPARE(english.AppTitle(), QString("Downloading... out.flv"));
        QCOMPARE(english.windowTitle(), english.AppTitle()); // the last one set shows
        QVERIFY(!english.windowIcon().isNull());

        AppSettings.LangPolish = true;
        TFormGetMain polish(MakeJob("/m", 0));
        QCOMPARE(polish.lblUrl->text(), QString("URL / Plik:"));
        QCOMPARE(polish.lblInfoSize->text(), QString("Rozmiar:"));
        QCOMPARE(polish.lblInfoProgress->text(), QString::fromUtf8("Postęp:"));
        QCOMPARE(polish.chAutoClose->text(), QString::fromUtf8("Zamknij okno po zakończeniu"));
        QCOMPARE(polish.actAbort->text(), QString("Przerwij"));
        QCOMPARE(polish.Caption(), QString("Pobieranie..."));

        // A local file to convert shows the conversion word, the title still the download word.
        TDownloadJob local = MakeJob("/m", 0);
        local.Source = dir_->Write("in.avi", "x");
        local.MediaUrl = "-";
        TFormGetMain converting(local);
        QCOMPARE(converting.Caption(), QString("Konwertowanie..."));
        QVERIFY(converting.AppTitle().startsWith("Pobieranie... "));
    }

    void sizeLimits()
    {
        TFormGetMain w(MakeJob("/m", 0));
        QVERIFY(w.minimumWidth() >= 300);
        QVERIFY(w.minimumWidth() <= TFormGetMain::DesignWidth);
        QCOMPARE(w.minimumHeight(), TFormGetMain::DesignHeight);
        QCOMPARE(w.maximumHeight(), TFormGetMain::DesignHeight);
    }

    void statusLineKeepsThePercentageAtEveryWidth()
    {
        for (bool polish : {false, true}) {
            AppSettings.LangPolish = polish;
            const TGetMainTexts& t = GetMainTexts(polish);
            const QString tail = QString::fromUtf8(t.CompleteWord) + "15 %";
            const QString line = QString::fromUtf8(t.ConvertWord) + "  ::::  " + QString::fromUtf8(t.FrameWord) +
                                 "750 / ~5125  ::::  " + tail;
            TFormGetMain w(MakeJob("/m", 0));
            w.show();
            w.lblProgress->setText(line);
            for (int width : {w.minimumWidth(), int(TFormGetMain::DesignWidth), 1200}) {
                w.resize(width, w.height());
                QCoreApplication::processEvents();
                const QString shown = w.lblProgress->FittedText();
                QVERIFY2(shown.endsWith(tail), qPrintable(shown));
                QVERIFY(QFontMetrics(w.lblProgress->font()).horizontalAdvance(shown) <=
                        w.lblProgress->contentsRect().width());
                QCOMPARE(w.lblProgress->text(), line);
            }
            QCOMPARE(w.lblProgress->FittedText(), line); // wide enough: all of it
        }
    }

    void completeDownloadWithSize()
    {
        const std::string body = testhttp::GeneratedBody(0, 50000);
        server_->Serve("/m", body, "video/x-flv");
        TFormGetMain w(MakeJob("/m", 50000));
        bool terminated = false;
        w.OnTerminate = [&] { terminated = true; };
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Downloaded 48.83 KB - OK"), 15000);
        QCOMPARE(w.AppTitle(), w.Caption());
        QCOMPARE(w.lblProgress->text(), QString("100 % - 48.83 KB"));
        QCOMPARE(w.lblSize->text(), QString("50000 (48.83 KB)"));
        QCOMPARE(w.btnAbort->text(), QString("Close"));
        QCOMPARE(w.pb->value(), 50000);
        QCOMPARE(QByteArray::fromStdString(TempDir::Read(w.JobOf().OutputFile)), QByteArray::fromStdString(body));
        QVERIFY(!w.tmConvert->isActive());
        QVERIFY(!w.tmClose->isActive()); // Auto close is off
        QVERIFY(!terminated);
    }

    void aPartOfAMediaFileIsCutOnceItIsHere()
    {
        const std::string clip = fixtures::MakeClip(dir_->File("clip.mp4"), 5);
        QVERIFY(!clip.empty());
        server_->Serve("/clip.mp4", TempDir::Read(clip), "video/mp4");
        TDownloadJob job = MakeJob("/clip.mp4", 0, "part [1s-3s].mp4");
        job.Section = "1-3";
        {
            TFormGetMain w(job);
            w.show();
            QTRY_VERIFY_WITH_TIMEOUT(w.Caption().endsWith(" - OK"), 20000);
            std::vector<std::string> lines;
            RunConsoleApp("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                      dir_->File("part [1s-3s].mp4")}, &lines, {});
            QVERIFY(!lines.empty());
            QVERIFY2(std::abs(std::atof(lines[0].c_str()) - 2.0) <= 0.5, lines[0].c_str());
        }
        // A part after the video's end: said, and the whole download stays.
        job = MakeJob("/clip.mp4", 0, "late [10s-20s].mp4");
        job.Section = "10-20";
        TFormGetMain w(job);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().contains("starts after the video's end"), 20000);
        QCOMPARE(FileSizeOf(dir_->File("late [10s-20s].mp4")), FileSizeOf(clip));
    }

    void unknownSizeShowsOnlyTheReceivedSize()
    {
        testhttp::Response r;
        r.body = std::string(30000, 'a');
        r.sendContentLength = false;
        r.honourRanges = false;  // a part's Content-Range would tell the size
        server_->Handle("/m", [r](const testhttp::Request&) { return r; });
        TFormGetMain w(MakeJob("/m", 0));
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Downloaded 29.30 KB - OK"), 15000);
        QCOMPARE(w.lblSize->text(), QString("30000 (29.30 KB)"));  // the file, once it is there
        QCOMPARE(w.lblProgress->text(), QString("29.30 KB"));
        QVERIFY(w.pb->isHidden());
    }

    void bodyLongerThanAnnouncedStopsAtHundredPercent()
    {
        server_->Serve("/m", std::string(20000, 'b'));
        TFormGetMain w(MakeJob("/m", 5000));
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Downloaded"), 15000);
        QCOMPARE(w.lblProgress->text(), QString("100 % - 19.53 KB"));
        QCOMPARE(w.lblSize->text(), QString("20000 (19.53 KB)"));  // what is on disk
        QCOMPARE(w.pb->value(), w.pb->maximum());
    }

    void existingFileIsCutAndEmptyBodyRemoved()
    {
        server_->Serve("/empty", "");
        TDownloadJob job = MakeJob("/empty", 0);
        dir_->Write("out.flv", "old content that must go");
        TFormGetMain w(job);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Downloaded 0 B - OK"), 15000);
        // The thread removes the empty file as its last step, after the outcome.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString::fromStdString(job.OutputFile)), 5000);
    }

    void refusedConnectionStaysOpenWithAutoClose()
    {
        TDownloadJob job = MakeJob("/m", 100);
        job.MediaUrl = "http://127.0.0.1:1/none.flv";
        AppSettings.AutoClose = true;
        TFormGetMain w(job);
        bool terminated = false;
        w.OnTerminate = [&] { terminated = true; };
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Connection error"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString::fromStdString(job.OutputFile)), 5000); // empty: gone
        QVERIFY(!w.tmClose->isActive());
        QVERIFY(!terminated);
    }

    void conversionIsArmedAfterSuccess()
    {
        server_->Serve("/m", "FLV data");
        TDownloadJob job = MakeJob("/m", 8);
        job.EncoderParams = "-i %1 %2";
        TFormGetMain w(job);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.tmConvert->isActive() || w.Converting || w.Caption() != "Downloading...", 15000);
        QVERIFY(w.ConvertRequested);
    }

    void abortAnsweredYesDeletesThePartialFile()
    {
        Response big;
        big.generatedSize = 1ull << 30;
        server_->Handle("/big", [big](const testhttp::Request&) { return big; });
        answerYes_ = true;
        TDownloadJob job = MakeJob("/big", 1 << 30);
        TFormGetMain w(job);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 15000);
        w.actAbortExecute();
        w.actAbortExecute(); // pressed twice: still one question
        QTRY_COMPARE_WITH_TIMEOUT(questions_.size(), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Downloading && w.btnAbort->text() == "Close", 15000);
        QCOMPARE(questions_.first(), QString::fromStdString("Brimtale|Delete incomplete file \"" + job.OutputFile + "\"?"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString::fromStdString(job.OutputFile)), 5000);
        QVERIFY(!w.Caption().startsWith("Downloaded")); // no outcome title after an abort
    }

    // After Abort the window says so, names what it keeps, and shows no speed.
    void anAbortedDownloadSaysSoAndNamesThePartialFile()
    {
        Response big;
        big.generatedSize = 1ull << 30;
        big.paceMs = 5;
        server_->Handle("/big", [big](const testhttp::Request&) { return big; });
        answerYes_ = false;
        TDownloadJob job = MakeJob("/big", 1 << 30);
        TFormGetMain w(job);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0 && !w.lblSpeed->text().isEmpty(), 15000);
        QTest::mouseClick(w.btnAbort, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Downloading && w.btnAbort->text() == "Close", 15000);
        const QString state = QString::fromStdString("Aborted - the partial file is kept: " + job.OutputFile);
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), state, 5000);
        QCOMPARE(w.AppTitle(), state);
        QCOMPARE(w.lblProgress->text(), state);
        QCOMPARE(w.lblSpeed->text(), QString());
    }

    // Closing a downloading window asks about the partial file as Abort does,
    // then the window goes.
    void closingADownloadingWindowAsksLikeAbort()
    {
        Response big;
        big.generatedSize = 1ull << 30;
        big.paceMs = 5;
        server_->Handle("/big", [big](const testhttp::Request&) { return big; });
        answerYes_ = true;
        TDownloadJob job = MakeJob("/big", 1 << 30);
        TFormGetMain w(job);
        w.OnTerminate = [] {};
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 15000);
        w.close();
        QTRY_COMPARE_WITH_TIMEOUT(questions_.size(), 1, 15000);
        QCOMPARE(questions_.first(), QString::fromStdString("Brimtale|Delete incomplete file \"" + job.OutputFile + "\"?"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 15000);
        QVERIFY(!QFile::exists(QString::fromStdString(job.OutputFile)));
    }

    // A job of the list goes on without its window: closing it (not Abort)
    // only hides it, nothing is asked, and once the job is done the process
    // ends by itself without telling of itself (the list does).
    void closingAListWindowHidesItAndTheJobGoesOn()
    {
        Response paced;
        paced.generatedSize = 512 * 1024;
        paced.paceMs = 20;
        server_->Handle("/paced", [paced](const testhttp::Request&) { return paced; });
        TInstanceServer instances;
        const QString socket = QString::fromStdString(dir_->File("instance"));
        QVERIFY(instances.Listen(socket));
        TDownloadJob job = MakeJob("/paced", 512 * 1024);
        TFormGetMain w(job);
        bool terminated = false;
        w.OnTerminate = [&] { terminated = true; };
        std::vector<QString> notices;
        w.OnNotify = [&notices](const QString& summary, const QString&) { notices.push_back(summary); };
        w.AttachToList(7, false, false, socket);
        // Not shown: the job starts all the same; "Show its window" brings it up.
        w.Begin();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 15000);
        QVERIFY(!w.isVisible());
        w.show();
        w.close();
        QVERIFY(questions_.isEmpty());
        QVERIFY(!w.isVisible());
        QVERIFY(w.Downloading);
        QTRY_VERIFY_WITH_TIMEOUT(terminated, 30000);
        QCOMPARE(FileSizeOf(job.OutputFile), std::int64_t(512 * 1024));
        QVERIFY(notices.empty());
    }

    // An outage longer than a few seconds is ridden out: the tries spread over
    // a minute (here in short units), each continuing the file.
    void anOutageOfSeveralTriesIsRiddenOut()
    {
        const std::uint64_t size = 1024 * 1024;
        std::atomic<int> served{0};
        server_->Handle("/media", [&, size](const testhttp::Request&) {
            Response r;
            r.generatedSize = size;
            const int n = served++;
            if (n == 0)
                r.dropAfter = 200 * 1024;  // the break
            else if (n < 5)
                r.dropAfter = 0;           // four tries in a row find the server down
            return r;
        });
        TDownloadJob job = MakeJob("/media", static_cast<std::int32_t>(size));
        TFormGetMain w(job);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Downloaded") || !w.btnRetry->isHidden(), 30000);
        QCOMPARE(w.Caption(), QString("Downloaded 1.00 MB - OK"));
        QVERIFY(TempDir::Read(job.OutputFile) == testhttp::GeneratedBody(0, size));
        QCOMPARE(served.load(), 6);
        int pauses = 0;
        for (int n = 1; n <= TFormGetMain::RetryTries; ++n)
            pauses += RetryPauseUnits(n);
        QVERIFY(pauses >= 60);  // a minute of tries when a unit is a second
    }

    void abortAnsweredNoKeepsTheFileAndAutoCloses()
    {
        Response big;
        big.generatedSize = 1ull << 30;
        server_->Handle("/big", [big](const testhttp::Request&) { return big; });
        answerYes_ = false;
        AppSettings.AutoClose = true;
        TDownloadJob job = MakeJob("/big", 0);
        TFormGetMain w(job);
        bool terminated = false;
        w.OnTerminate = [&] { terminated = true; };
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 15000);
        w.actAbortExecute();
        QTRY_VERIFY_WITH_TIMEOUT(terminated, 15000); // tmClose ends the process 1.5 s later
        QCOMPARE(questions_.size(), 1);
        QVERIFY(QFile(QString::fromStdString(job.OutputFile)).size() > 0);
        QVERIFY(QFile::exists(dir_->File("bmt.ini").c_str()));
        QVERIFY(TempDir::Read(dir_->File("bmt.ini")).find("AutoClose=1") != std::string::npos);
    }

    void aBrokenTransferResumesWhereTheFileEnds_data()
    {
        QTest::addColumn<bool>("honourRange");
        QTest::newRow("server honours Range") << true;
        QTest::newRow("server ignores Range") << false;
    }

    void aBrokenTransferResumesWhereTheFileEnds()
    {
        QFETCH(bool, honourRange);
        const std::uint64_t size = 3 * 1024 * 1024 + 5;
        std::atomic<int> served{0};
        server_->Handle("/media", [&, size, honourRange](const testhttp::Request&) {
            Response r;
            r.generatedSize = size;
            r.honourRanges = honourRange;
            // The first request asks for the file as a range; a server that
            // ignores that gets the whole file asked for once more.
            if (served++ == (honourRange ? 0 : 1))
                r.dropAfter = 1024 * 1024; // a reset after 1 MiB
            return r;
        });
        TDownloadJob job = MakeJob("/media", static_cast<std::int32_t>(size));
        TFormGetMain w(job);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Downloaded 3.00 MB - OK"), 8000);
        QVERIFY(TempDir::Read(job.OutputFile) == testhttp::GeneratedBody(0, size));
        QVERIFY(w.btnRetry->isHidden());
        const auto requests = server_->Requests();
        // The range, then (ignored) the whole body again.
        QCOMPARE(int(requests.size()), honourRange ? 2 : 4);
        const auto& resumed = requests[honourRange ? 1 : 2];
        const auto range = resumed.headers.find("range");
        QVERIFY(range != resumed.headers.end());
        QVERIFY(range->second.rfind("bytes=", 0) == 0 && std::stoll(range->second.substr(6)) > 0);
    }

    // A large file comes over several connections; the window shows it as one
    // download: one size, one count that only grows, the whole file.
    void aLargeFileOverSeveralConnectionsReadsAsOneDownload()
    {
        const std::uint64_t size = 10 * 1024 * 1024 + 3;
        server_->Handle("/large", [size](const testhttp::Request&) {
            Response r;
            r.generatedSize = size;
            r.paceMs = 15;
            return r;
        });
        AppSettings.Connections = 3;
        TDownloadJob job = MakeJob("/large", 0);
        TFormGetMain w(job);
        std::int64_t last = 0;
        bool grew = true;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            const std::int64_t now = w.BytesDone;
            grew = grew && now >= last && now <= static_cast<std::int64_t>(size);
            last = now;
        });
        watch.start(5);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Downloaded") || w.Caption() == "Connection error", 60000);
        watch.stop();
        QCOMPARE(w.Caption(), QString("Downloaded 10.00 MB - OK"));
        QVERIFY(grew);
        QCOMPARE(w.pb->maximum(), static_cast<int>(size));
        QCOMPARE(w.lblSize->text(), QString("10485763 (10.00 MB)"));
        QVERIFY(TempDir::Read(job.OutputFile) == testhttp::GeneratedBody(0, size));
        QVERIFY(!QFile::exists(QString::fromStdString(job.OutputFile + ".parts")));
        std::set<std::string> ranges;
        for (const auto& request : server_->Requests())
            if (request.headers.count("range"))
                ranges.insert(request.headers.at("range"));
        QVERIFY(ranges.size() >= 3);
    }

    void everyTryFailingEndsInTheFailureStateWithRetry()
    {
        const std::uint64_t size = 2 * 1024 * 1024;
        std::atomic<bool> healed{false};
        server_->Handle("/media", [&, size](const testhttp::Request&) {
            Response r;
            r.generatedSize = size;
            if (!healed)
                r.dropAfter = 100 * 1024; // each try brings 100 KiB more, never the rest
            return r;
        });
        TDownloadJob job = MakeJob("/media", static_cast<std::int32_t>(size));
        TFormGetMain w(job);
        w.show();
        const QString failed = QString::fromStdString("Connection error - the partial file is kept: " + job.OutputFile);
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), failed, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Downloading, 5000);
        QCOMPARE(int(server_->Requests().size()), 1 + TFormGetMain::RetryTries);
        QVERIFY(w.btnRetry->isVisible());
        QCOMPARE(w.btnRetry->text(), QString("Retry"));
        QCOMPARE(w.btnAbort->text(), QString("Close"));
        QCOMPARE(QFile(QString::fromStdString(job.OutputFile)).size(), qint64((1 + TFormGetMain::RetryTries) * 100 * 1024)); // kept

        // Retry continues the file, once the server is well again.
        healed = true;
        QTest::mouseClick(w.btnRetry, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Downloaded 2.00 MB - OK"), 30000);
        QVERIFY(TempDir::Read(job.OutputFile) == testhttp::GeneratedBody(0, size));
        QVERIFY(w.btnRetry->isHidden());
    }

    void abortActsAtOnceWhileTheServerIsSilent()
    {
        Response silent;
        silent.generatedSize = 1 << 20;
        silent.stallAfter = 64 * 1024;
        server_->Handle("/silent", [silent](const testhttp::Request&) { return silent; });
        TFormGetMain w(MakeJob("/silent", 1 << 20));
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 15000);
        QElapsedTimer sinceAbort;
        sinceAbort.start();
        QTest::mouseClick(w.btnAbort, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(questions_.size(), 1, 30000);
        QVERIFY2(sinceAbort.elapsed() < 1000, qPrintable(QString::number(sinceAbort.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(!w.Downloading, 5000);
        QCOMPARE(int(server_->Requests().size()), 1); // an abort is no break: no retry
    }

    void aJobThatEndsUnseenIsNotified_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("reason");
        QTest::newRow("downloaded") << false << true << "Download finished (1 B)" << "";
        QTest::newRow("failed") << false << false << "Download failed" << "Connection error\n";
        QTest::newRow("Polish") << true << false << QString::fromUtf8("Pobieranie nie powiodło się")
                                << QString::fromUtf8("Wystąpił problem z połączeniem\n");
    }

    void aJobThatEndsUnseenIsNotified()
    {
        QFETCH(bool, polish);
        QFETCH(bool, reachable);
        QFETCH(QString, summary);
        QFETCH(QString, reason);
        AppSettings.LangPolish = polish;
        server_->Serve("/m", "x");
        TDownloadJob job = MakeJob("/m", 1, "clip & <1>.flv");
        if (!reachable)
            job.MediaUrl = "http://127.0.0.1:1/none.flv";
        TFormGetMain w(job);
        QStringList notices;
        w.OnNotify = [&](const QString& s, const QString& b) { notices << s + "|" + b; };
        w.show();
        // The user is busy in another window.
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 20000);
        QCOMPARE(notices[0], summary + "|" + reason + QString::fromStdString(job.OutputFile));
    }

    void noNotificationWhileTheWindowIsActiveOrWhenItIsOff()
    {
        server_->Serve("/m", "x");
        for (bool off : {false, true}) {
            AppSettings.Notifications = !off;
            TFormGetMain w(MakeJob("/m", 1));
            int notices = 0;
            w.OnNotify = [&](const QString&, const QString&) { ++notices; };
            w.show();
            // Off: not even while the user is elsewhere.
            QWidget other;
            QWidget* active = &w;
            if (off) {
                other.show();
                active = &other;
            }
            active->activateWindow();
            QTRY_VERIFY(active->isActiveWindow());
            QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Downloaded"), 15000);
            QCoreApplication::processEvents();
            QCOMPARE(notices, 0);
        }
    }

    void uncheckingAutoCloseIsSavedOnClose()
    {
        AppSettings.AutoClose = true;
        TFormGetMain w(MakeJob("/m", 0));
        QVERIFY(w.chAutoClose->isChecked());
        w.chAutoClose->click();
        QVERIFY(!AppSettings.AutoClose);
        w.close();
        QVERIFY(TempDir::Read(dir_->File("bmt.ini")).find("AutoClose=0") != std::string::npos);
    }

    void vanishedSourceClosesTheWindow()
    {
        TDownloadJob job = MakeJob("/m", 0);
        job.Source = dir_->Write("gone.avi", "x");
        job.MediaUrl.clear();
        TFormGetMain w(job);
        QFile::remove(QString::fromStdString(job.Source));
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
        QVERIFY(!w.Converting);
        QVERIFY(!w.tmConvert->isActive());
    }

    // Through the page engine: a DASH manifest whose video and audio are merged.
    void engineJobEndsUnderTheMergedFilesName()
    {
        const std::string clip = fixtures::MakeClip(dir_->File("clip.mp4"), 2);
        QVERIFY(fixtures::MakeDash(clip, dir_->File("dash")));
        fixtures::ServeFiles(*server_, "/dash/", dir_->File("dash"));
        TDownloadJob job = MakeJob("/dash/manifest.mpd", 0, "film.flv");
        job.ThroughEngine = true;
        TFormGetMain w(job);
        QStringList states;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (states.isEmpty() || states.last() != w.lblProgress->text())
                states << w.lblProgress->text();
        });
        watch.start(5);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Downloaded") || w.Caption().startsWith("Download failed") ||
                                     w.Caption() == "Connection error",
                                 60000);
        QVERIFY2(w.Caption().endsWith(" - OK"), qPrintable(w.Caption()));
        const std::string merged = dir_->File("film.mp4");
        QCOMPARE(w.edFileName->text(), QString::fromStdString(merged));
        QCOMPARE(w.JobOf().OutputFile, merged);
        QCOMPARE(fixtures::StreamTypes(merged), (std::vector<std::string>{"video", "audio"}));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(EngineWorkDir(dir_->File("film.flv")))));
        QVERIFY2(states.join("|").contains("Merging video and audio..."), qPrintable(states.join("|")));
        QCOMPARE(w.btnAbort->text(), QString("Close"));
    }

    void abortOfAnEngineDownloadEndsItAndYesRemovesItsPartialFiles()
    {
        const std::string clip = fixtures::MakeClip(dir_->File("long.mp4"), 8);
        QVERIFY(fixtures::MakeHls(clip, dir_->File("hls")));
        fixtures::ServeFiles(*server_, "/hls/", dir_->File("hls"), 400);
        answerYes_ = true;
        TDownloadJob job = MakeJob("/hls/index.m3u8", 0, "live.mp4");
        job.ThroughEngine = true;
        TFormGetMain w(job);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 30000);
        QTest::mouseClick(w.btnAbort, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(questions_.size(), 1, 15000);
        QCOMPARE(questions_.first(), QString::fromStdString("Brimtale|Delete incomplete file \"" + job.OutputFile + "\"?"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.Downloading && w.btnAbort->text() == "Close", 15000);
        QVERIFY(fixtures::ProcessesWithArgument(job.MediaUrl).empty());
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QString::fromStdString(EngineWorkDir(job.OutputFile))), 5000);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(job.OutputFile)));
        QVERIFY(!w.Caption().startsWith("Downloaded"));
    }

    // Through the page engine, whose counts of its stream are not the file it
    // leaves (46210 bytes announced, 46305 counted, 46297 on disk): the size
    // line, the progress line, the title and the row of the main window's list
    // all give the file's size on disk, rounded the one way.
    void anEngineJobShowsItsFilesSizeOnDiskEverywhere()
    {
        const std::string engine = dir_->Write("engine", "#!/bin/sh\n"
                                                         "echo '[brimtale] downloading 20000 46210 NA 0'\n"
                                                         "echo '[brimtale] downloading 46210 46210 NA 0'\n"
                                                         "echo '[brimtale] finished 46305 46305 NA 0'\n"
                                                         "head -c 46297 /dev/zero > media.mp4\n");
        ::chmod(engine.c_str(), 0755);
        PageEngineOverride = engine;
        // The main window's list, with this window as the process of its row.
        TInstanceServer instances;
        const QString socket = QString::fromStdString(dir_->File("instance"));
        QVERIFY(instances.Listen(socket));
        TDownloadQueue queue(dir_->File("list.txt"));
        queue.StartProcess = [](const std::vector<std::string>&) {
            return static_cast<std::int64_t>(QCoreApplication::applicationPid());
        };
        connect(&instances, &TInstanceServer::reportReceived, &queue,
                [&queue](const TJobReport& report, QLocalSocket* connection) { queue.TakeReport(report, connection); });
        TDownloadJob job = MakeJob("/page", 0, "film.mp4");
        job.ThroughEngine = true;
        const std::uint64_t id = queue.AddJob(job, "film");
        QVERIFY(id != 0);
        QVERIFY(queue.List().Find(id)->Running);

        TFormGetMain w(job);
        w.AttachToList(id, true, false, socket);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Downloaded 45.21 KB - OK"), 30000);
        PageEngineOverride.reset();
        QCOMPARE(FileSizeOf(dir_->File("film.mp4")), std::int64_t(46297));
        QCOMPARE(w.lblSize->text(), QString("46297 (45.21 KB)"));
        QCOMPARE(w.lblProgress->text(), QString("100 % - 45.21 KB"));
        QTRY_COMPARE_WITH_TIMEOUT(queue.List().Find(id)->State, TJobState::Done, 10000);
        QCOMPARE(queue.Model()->index(0, TJobTableModel::ColSize).data().toString(), QString("45.21 KB"));
        QCOMPARE(queue.Model()->index(0, TJobTableModel::ColPercent).data().toString(), QString("100 %"));
    }

    // Before anything says how large the file is, the size line says so with a
    // dash (no zero, no English word in the Polish window); at the end it is the file's.
    void theSizeLineBeforeTheSizeIsKnown()
    {
        AppSettings.LangPolish = true;
        server_->Handle("/m", [](const testhttp::Request&) {
            Response r;
            r.generatedSize = 1 << 20;
            r.sendContentLength = false;
            r.honourRanges = false;  // a part's Content-Range would tell the size
            r.paceMs = 40;
            return r;
        });
        TFormGetMain w(MakeJob("/m", 0));
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0, 15000);
        QCOMPARE(w.lblInfoSize->text(), QString("Rozmiar:"));
        QCOMPARE(w.lblSize->text(), QString::fromUtf8("\u2014"));
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Pobrano 1.00 MB - OK"), 15000);
        QCOMPARE(w.lblSize->text(), QString("1048576 (1.00 MB)"));
    }

    // At the window's smallest width, in both languages, while a download runs,
    // after it was aborted and after it failed: every text is whole where it
    // is shown. The kept file's long path is shortened in its middle, the
    // words before it stay, and the tooltip has all of it.
    void everyTextFitsAtTheSmallestWidthInBothLanguages()
    {
        Response big;
        big.generatedSize = 1ull << 30;
        big.paceMs = 5;
        server_->Handle("/big", [big](const testhttp::Request&) { return big; });
        answerYes_ = false;
        for (bool polish : {false, true}) {
            AppSettings.LangPolish = polish;
            const TGetMainTexts& t = GetMainTexts(polish);
            TDownloadJob job = MakeJob("/big", 1 << 30, std::string(polish ? "pl" : "en") +
                                                         " Holiday on the Baltic coast with the whole family, summer 2010.flv");
            TFormGetMain w(job);
            w.show();
            w.resize(w.minimumWidth(), w.height());
            QCOMPARE(w.width(), w.minimumWidth());
            QTRY_VERIFY_WITH_TIMEOUT(w.BytesDone > 0 && !w.lblSpeed->text().isEmpty(), 15000);
            QVERIFY2(Unfitted(w).isEmpty(), qPrintable(Unfitted(w).join("; ")));

            QTest::mouseClick(w.btnAbort, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!w.Downloading && w.btnAbort->text() == QString::fromUtf8(t.Close), 15000);
            const QString words = QString::fromUtf8(polish ? "Przerwano - niekompletny plik pozostaje: "
                                                           : "Aborted - the partial file is kept: ");
            const QString state = words + QString::fromStdString(job.OutputFile);
            QTRY_COMPARE_WITH_TIMEOUT(w.lblProgress->text(), state, 5000);
            const QString shown = w.lblProgress->FittedText();
            QVERIFY2(shown.startsWith(words) && shown.contains(QString::fromUtf8("\u2026")) && shown.endsWith(".flv"),
                     qPrintable(shown));
            QTRY_COMPARE_WITH_TIMEOUT(w.lblProgress->toolTip(), state, 5000);
            QVERIFY2(Unfitted(w).isEmpty(), qPrintable(Unfitted(w).join("; ")));

            // A failure offers Retry beside Auto close and Close.
            TDownloadJob failing = MakeJob("/none", 100, polish ? "pl.flv" : "en.flv");
            failing.MediaUrl = testhttp::ClosedPortUrl("/none.flv");
            TFormGetMain f(failing);
            f.show();
            f.resize(f.minimumWidth(), f.height());
            QTRY_VERIFY_WITH_TIMEOUT(f.btnRetry->isVisible(), 20000);
            QCOMPARE(f.btnRetry->text(), QString::fromUtf8(t.Retry));
            QVERIFY2(Unfitted(f).isEmpty(), qPrintable(Unfitted(f).join("; ")));
        }
    }

    void closeAfterTheWorkEndsTerminates()
    {
        server_->Serve("/m", "x");
        TFormGetMain w(MakeJob("/m", 1));
        bool terminated = false;
        w.OnTerminate = [&] { terminated = true; };
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Downloaded"), 15000);
        w.actAbortExecute();
        QVERIFY(terminated);
    }
};

QTEST_MAIN(GetMainTest)
#include "GetMainTest.moc"
