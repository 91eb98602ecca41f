// Real download processes: the built program started with "-get" and a job, run
// offscreen from a copy beside its own settings file, against the loopback server.

#include "support/ProgramRun.h"
#include "app/DownloadJob.h"
#include "net/OutputFiles.h"
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

    void Start(QProcess& process, const TDownloadJob& job)
    {
        QStringList args;
        for (const std::string& a : JobToArgs(job, false))
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
        QVERIFY(process.readAll().contains("Downloaded  0 bytes - OK"));
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
