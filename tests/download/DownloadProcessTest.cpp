// SPDX-License-Identifier: GPL-3.0-or-later
// Real download processes: the built program started with "-get" and a job, run
// offscreen from a copy beside its own settings file, against the loopback server.

#include "support/ProgramRun.h"
#include "app/DownloadJob.h"
#include "download/JobList.h"
#include "system/ZQ_FileSystem.h"
#include "system/OutputFiles.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <filesystem>
#include <memory>

class DownloadProcessTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<testhttp::TestHttpServer> server_;
    std::string exe_;

    void WriteSettings(bool autoClose)
    {
        dir_->Write("bmt.ini", std::string("[Main]\r\nLanguage=EN\r\nAutoClose=") + (autoClose ? "1" : "0") + "\r\n");
    }

    TDownloadJob MakeJob(const std::string& mediaPath, std::int32_t expected)
    {
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = "http://www.youtube.com/watch?v=abc";
        job.MediaUrl = server_->Url(mediaPath);
        job.OutputFile = dir_->File("out dir/clip 'one' $(x).flv");
        job.ExpectedSize = expected;
        job.EncoderParams = "-";
        job.EncoderExt = "-";
        job.TargetExt = "-";
        return job;
    }

    void Start(QProcess& process, const TDownloadJob& job, std::vector<std::string> jobArgs = {})
    {
        if (jobArgs.empty())
            jobArgs = JobToArgs(job, false);
        QStringList args;
        for (const std::string& a : jobArgs)
            args << QString::fromStdString(a);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("BRIMTALE_ECHO", "1");
        env.insert("BRIMTALE_AUTO_ANSWER", "no");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QString::fromStdString(exe_), args);
        QVERIFY(process.waitForStarted(10000));
    }

    // Reads the process's output until it holds text (or the time is up).
    static bool WaitForOutput(QProcess& process, QByteArray& output, const QByteArray& text, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!output.contains(text) && !deadline.hasExpired()) {
            if (process.waitForReadyRead(static_cast<int>(std::min<qint64>(200, deadline.remainingTime()))))
                output += process.readAll();
            else if (process.state() == QProcess::NotRunning)
                break;
        }
        output += process.readAll();
        return output.contains(text);
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<TempDir>();
        server_ = std::make_unique<testhttp::TestHttpServer>();
        exe_ = dir_->File("brimtale");
        PlaceProgram(BRIMTALE_EXE, exe_);
        std::filesystem::create_directory(dir_->File("out dir"));
    }

    void cleanup()
    {
        server_.reset();
        dir_.reset();
    }

    void completeDownloadsEndByThemselves_data()
    {
        QTest::addColumn<bool>("withLength");
        QTest::newRow("with Content-Length") << true;
        QTest::newRow("without Content-Length") << false;
    }

    void completeDownloadsEndByThemselves()
    {
        QFETCH(bool, withLength);
        testhttp::Response r;
        r.generatedSize = 3 * 1024 * 1024 + 17;
        r.sendContentLength = withLength;
        r.chunked = !withLength;
        server_->Handle("/media.flv", [r](const testhttp::Request&) { return r; });
        WriteSettings(true);
        const TDownloadJob job = MakeJob("/media.flv", withLength ? static_cast<std::int32_t>(r.generatedSize) : 0);
        dir_->Write("out dir/clip 'one' $(x).flv", "an older file of that name");

        QProcess process;
        Start(process, job);
        QVERIFY2(process.waitForFinished(60000), "the download process did not end by itself");
        const QByteArray output = process.readAll();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(output.contains("Downloaded 3.00 MB - OK"), output.constData());
        const std::string content = TempDir::Read(job.OutputFile);
        QCOMPARE(content.size(), r.generatedSize);
        QVERIFY(content == testhttp::GeneratedBody(0, r.generatedSize));
        // The settings survived with Auto close as it was.
        QVERIFY(TempDir::Read(dir_->File("bmt.ini")).find("AutoClose=1") != std::string::npos);
    }

    void theSpeedAndTimeLeftAreShown()
    {
        // About 1.3 MB/s: 4 MB take some three seconds.
        testhttp::Response r;
        r.generatedSize = 4 * 1024 * 1024;
        r.paceMs = 50;
        server_->Handle("/media.flv", [r](const testhttp::Request&) { return r; });
        WriteSettings(true);
        QProcess process;
        Start(process, MakeJob("/media.flv", static_cast<std::int32_t>(r.generatedSize)));
        QVERIFY2(process.waitForFinished(60000), "the download process did not end by itself");
        const QByteArray output = process.readAll();
        QVERIFY2(QRegularExpression("\\n[0-9.]+ [KM]B/s - [0-9]+:[0-9][0-9] left\\n").match(output).hasMatch(),
                 output.constData());
        QVERIFY(output.contains("Downloaded 4.00 MB - OK"));
    }

    void refusedConnectionShowsTheErrorAndStays()
    {
        WriteSettings(true);
        TDownloadJob job = MakeJob("/x", 0);
        job.MediaUrl = "http://127.0.0.1:1/refused.flv";
        QProcess process;
        Start(process, job);
        QByteArray output;
        QVERIFY2(WaitForOutput(process, output, "Connection error", 30000), output.constData());
        // With an error the window stays for the user; Auto close does not end it.
        QVERIFY(!process.waitForFinished(2500));
        process.kill();
        process.waitForFinished(5000);
        QVERIFY(!QFile::exists(QString::fromStdString(job.OutputFile)));
    }

    void emptyBodyLeavesNoFile()
    {
        server_->Serve("/empty.flv", "");
        WriteSettings(true);
        const TDownloadJob job = MakeJob("/empty.flv", 0);
        QProcess process;
        Start(process, job);
        QVERIFY(process.waitForFinished(30000));
        QVERIFY(process.readAll().contains("Downloaded 0 B - OK"));
        QVERIFY(!QFile::exists(QString::fromStdString(job.OutputFile)));
    }

    // The same page started twice, half a second apart, as the dialog starts
    // jobs: each takes its name at once, so the two download processes write
    // two whole files. A third given a name a running job holds never touches it.
    void samePageTwiceGivesTwoWholeFiles()
    {
        const std::string clip = fixtures::MakeClip(dir_->File("clip.mp4"), 6, "640x360");
        QVERIFY(!clip.empty());
        testhttp::Response media;
        media.body = TempDir::Read(clip);
        media.headers = {{"Content-Type", "video/mp4"}};
        media.paceMs = 150;  // a few seconds, so the jobs overlap
        server_->Handle("/files/clip.mp4", [media](const testhttp::Request&) { return media; });
        server_->Serve("/page", "<html><head><title>Twice</title></head><body><video src=\"/files/clip.mp4\"></video></body></html>");
        WriteSettings(true);
        const auto jobFor = [&](const std::string& name) {
            TDownloadJob job = MakeJob("/page", 0);
            job.Source = server_->Url("/page");
            job.MediaUrl = job.Source;
            job.ThroughEngine = true;
            job.EngineMetadata = false;  // the file as served
            job.OutputFile = name;
            return job;
        };
        const std::string wanted = dir_->File("out dir/Twice.mp4");
        const TDownloadJob first = jobFor(ReserveOutputFile(wanted, true));
        QProcess one;
        Start(one, first);
        QTest::qWait(500);
        const TDownloadJob second = jobFor(ReserveOutputFile(wanted, true));
        QCOMPARE(second.OutputFile, dir_->File("out dir/Twice_01.mp4"));
        QProcess two;
        Start(two, second);
        // Someone hands a running job's name to another process.
        QProcess intruder;
        Start(intruder, first);
        QByteArray refused;
        QVERIFY2(WaitForOutput(intruder, refused, "Another download is writing this file", 60000), refused.constData());
        intruder.kill();
        intruder.waitForFinished(5000);

        for (QProcess* p : {&one, &two}) {
            QVERIFY2(p->waitForFinished(90000), "a download did not end by itself");
            const QByteArray output = p->readAll();
            QVERIFY2(output.contains(" - OK"), output.constData());
        }
        for (const TDownloadJob& job : {first, second}) {
            QVERIFY(TempDir::Read(job.OutputFile) == media.body);
            QCOMPARE(fixtures::StreamTypes(job.OutputFile), (std::vector<std::string>{"video", "audio"}));
        }
        QCOMPARE(fixtures::FolderEntries(dir_->File("out dir")), (std::vector<std::string>{"Twice.mp4", "Twice_01.mp4"}));
    }

    // A job of the list continues only the file it made. A server that
    // answers the range request with the whole body gets that file emptied in
    // place; a file put at the job's name since, or bytes there that no job
    // made, stay as they are, and the server is not asked.
    void aResumedJobWritesOnlyItsOwnFile()
    {
        testhttp::Response whole;
        whole.generatedSize = 700 * 1024;
        whole.honourRanges = false;
        server_->Handle("/media.flv", [whole](const testhttp::Request&) { return whole; });
        WriteSettings(true);
        const std::string body = testhttp::GeneratedBody(0, whole.generatedSize);
        const auto resume = [&](const TDownloadJob& job, const QByteArray& expected) {
            QProcess process;
            // A hidden job of the list, continuing the file on disk; no program listens.
            Start(process, job, ListedJobArgs(job, 7, false, true));
            QByteArray output;
            const bool seen = WaitForOutput(process, output, expected, 60000);
            // A failed job waits for its user; only a finished one ends by itself.
            if (!process.waitForFinished(expected.endsWith("OK") ? 20000 : 0)) {
                process.kill();
                process.waitForFinished(5000);
            }
            return seen ? QByteArray() : output;
        };

        // Its own file: the 200 answer starts it over in the same file.
        TDownloadJob own = MakeJob("/media.flv", 0);
        own.OutputFile = ReserveOutputFile(dir_->File("out dir/own.flv"), false);
        own.OutputId = FileIdOf(own.OutputFile);
        QVERIFY(own.OutputId);
        dir_->Write("out dir/own.flv", body.substr(0, 1000) + "stale bytes of an earlier try");
        QCOMPARE(resume(own, " - OK"), QByteArray());
        QVERIFY(TempDir::Read(own.OutputFile) == body);
        QCOMPARE(FileIdOf(own.OutputFile), own.OutputId);

        // Another file at the name: untouched, and no request.
        const std::string mine = "the user's own file, not a download";
        // (made beside it and renamed over it, so it can't get the old file's inode)
        dir_->Write("out dir/mine.flv", mine);
        std::filesystem::rename(dir_->File("out dir/mine.flv"), own.OutputFile);
        QVERIFY(FileIdOf(own.OutputFile) != own.OutputId);
        const std::size_t requests = server_->Requests().size();
        QCOMPARE(resume(own, "The file was changed outside Brimtale: " + QByteArray::fromStdString(own.OutputFile)),
                 QByteArray());
        QCOMPARE(TempDir::Read(own.OutputFile), mine);
        QCOMPARE(server_->Requests().size(), requests);

        // A row that names no file of its own (an edited list) continues nothing.
        TDownloadJob edited = MakeJob("/media.flv", 0);
        edited.OutputFile = own.OutputFile;
        QCOMPARE(resume(edited, "The file was changed outside Brimtale"), QByteArray());
        QCOMPARE(TempDir::Read(own.OutputFile), mine);
        QCOMPARE(server_->Requests().size(), requests);
    }

    void localClipIsConvertedWithTheRealEncoder()
    {
        const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
        if (ffmpeg.isEmpty())
            QSKIP("ffmpeg is not installed");
        const std::string clip = dir_->File("out dir/a clip; $(b) 'c'.avi");
        QProcess make;
        make.start(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=duration=2:size=160x120:rate=25",
                            "-c:v", "mpeg4", QString::fromStdString(clip)});
        QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);
        WriteSettings(true);

        TDownloadJob job;
        job.Switch = "-get";
        job.Source = clip;
        job.MediaUrl = "-";
        job.OutputFile = clip;
        job.EncoderParams = "-hide_banner -n -i %1 -c:v libx264 -preset ultrafast -pix_fmt yuv420p %2";
        job.EncoderExt = "-";
        job.TargetExt = "mp4";
        QProcess process;
        Start(process, job);
        QVERIFY2(process.waitForFinished(60000), "the conversion process did not end by itself");
        const QByteArray output = process.readAll();
        QVERIFY2(output.contains("Converting... 100 %"), output.constData());
        QVERIFY2(output.contains("OK - File converted"), output.constData());

        const QString result = QString::fromStdString(dir_->File("out dir/a clip; $(b) 'c'.mp4"));
        QProcess probe;
        probe.start(QStandardPaths::findExecutable("ffprobe"),
                    {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", result});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        QVERIFY(probe.readAll().trimmed().toDouble() > 1.5);
        QVERIFY(QFile::exists(QString::fromStdString(clip))); // the input stays unless asked
    }

    void incompleteCommandLineStartsTheInteractiveMode()
    {
        // "-get" without an output file is not a job: the main window comes up instead.
        WriteSettings(false);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(exe_), {"-get", "http://x/", "http://x/m.flv", ""});
        QVERIFY(process.waitForStarted(10000));
        QVERIFY(!process.waitForFinished(1500)); // it waits for its user
        process.kill();
        process.waitForFinished(5000);
    }
};

QTEST_MAIN(DownloadProcessTest)
#include "DownloadProcessTest.moc"
