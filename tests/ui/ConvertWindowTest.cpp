// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion run of the download window with the real encoder: a local clip
// is converted, and Abort ends only this window's encoder.

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "ui/GetMain.h"
#include "support/TempDir.h"
#include "TextsFit.h"
#include "ui/MessageBoxes.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <memory>

class ConvertWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    QStringList messages_;
    QString ffmpeg_;

    // A generated clip of the given length, made by the real encoder.
    std::string MakeClip(const std::string& name, int seconds)
    {
        const std::string path = dir_->File(name);
        QProcess p;
        p.start(ffmpeg_, {"-v", "error", "-y", "-f", "lavfi", "-i",
                          QString("testsrc=duration=%1:size=160x120:rate=25").arg(seconds), "-c:v", "mpeg4",
                          QString::fromStdString(path)});
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            return {};
        return path;
    }

    // A stand-in for the encoder beside the program: asked as the probe ("-i
    // FILE") it describes a ten-second clip; otherwise it runs body.
    void WriteStandInEncoder(const std::string& body)
    {
        std::filesystem::remove(dir_->File("ffmpeg"));
        const std::string script = dir_->Write("ffmpeg",
            "#!/bin/sh\n"
            "if [ \"$#\" -eq 2 ]; then\n"
            "  printf '  Duration: 00:00:10.00, start: 0.000000, bitrate: 9 kb/s\\n'\n"
            "  printf '    Stream #0:0: Video: mpeg4, yuv420p, 160x120, 25 fps, 25 tbr\\n'\n"
            "  exit 1\n"
            "fi\n" + body);
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }

    TDownloadJob LocalJob(const std::string& input, const std::string& output, const std::string& params)
    {
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = input;
        job.MediaUrl = "-";
        job.OutputFile = output;
        job.EncoderParams = params;
        job.EncoderExt = "-";
        job.TargetExt = "mkv";
        return job;
    }

    // The names in the test's folder, hidden ones included.
    QStringList Entries() const
    {
        QStringList names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_->Path()))
            names << QString::fromStdString(entry.path().filename().string());
        names.sort();
        return names;
    }

private slots:
    void initTestCase()
    {
        ffmpeg_ = QStandardPaths::findExecutable("ffmpeg");
        if (ffmpeg_.isEmpty())
            QSKIP("ffmpeg is not installed");
    }

    void init()
    {
        dir_ = std::make_unique<TempDir>();
        InitAppDirsFor(dir_->Path());
        SettingsFile = dir_->File("bmt.ini");
        InitSettings();
        dir_->Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        // The encoder beside the program, as a link to the real one.
        std::filesystem::create_symlink(ffmpeg_.toStdString(), dir_->File("ffmpeg"));
        messages_.clear();
        SetMessageHook([this](QWidget*, const QString&, const QString& text, TMsgKind) {
            messages_ << text;
            return TMsgAnswer::Ok;
        });
    }

    void cleanup()
    {
        SetMessageHook({});
        dir_.reset();
    }

    void convertsALocalFileAndClosesByItself()
    {
        const std::string input = MakeClip("in 'a' $(b).avi", 2);
        QVERIFY(!input.empty());
        AppSettings.AutoClose = true;
        TDownloadJob job = LocalJob(input, dir_->File("out \"c\"; d.avi"), "-y -i %1 -c:v mpeg4 -b:v %DVB %2");
        job.DeleteInput = true;
        TFormGetMain w(job);
        bool terminated = false;
        w.OnTerminate = [&] { terminated = true; };
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(terminated, 60000);
        QCOMPARE(w.Caption(), QString("OK - File converted"));
        QCOMPARE(w.pb->value(), 100);
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join("\n")));
        QVERIFY(QFile(QString::fromStdString(dir_->File("out \"c\"; d.mkv"))).size() > 0);
        QVERIFY(!QFile::exists(QString::fromStdString(input))); // deleted after success, as asked
        QCOMPARE(w.MediaInfo.Width, 160);
        QCOMPARE(w.MediaInfo.DurationSeconds, 2);
    }

    // The Polish window names the conversion's line in Polish, and every text
    // is whole at the window's smallest width.
    void thePolishConversionSaysItsStateInPolish()
    {
        AppSettings.LangPolish = true;
        const std::string input = dir_->Write("in.avi", "x");
        WriteStandInEncoder("printf done > \"$4\"\n");
        TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-y -i %1 %2"));
        w.show();
        w.resize(w.minimumWidth(), w.height());
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString::fromUtf8("OK - Konwersja zakończona"), 30000);
        QCOMPARE(w.lblInfoProgress->text(), QString("Stan:"));
        const QStringList unfitted = textsfit::Unfitted(&w);
        QVERIFY2(unfitted.isEmpty(), qPrintable(unfitted.join("; ")));
    }

    void failureShowsTheEncoderOutputAndWritesTheLog()
    {
        const std::string input = dir_->Write("not a video.avi", "this is text, not a video");
        TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-y -i %1 %2"));
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.Caption().startsWith("Conversion failed: Error ("), 30000);
        QCOMPARE(messages_.size(), 1);
        QVERIFY(!messages_.first().contains("ffmpeg version"));  // no banner lines
        QVERIFY(!messages_.first().contains("\r\n\r\n"));        // no blank lines
        const std::string log = TempDir::Read(ErrorLogFile());
        QVERIFY(log.find(messages_.first().left(20).toStdString()) != std::string::npos);
        QVERIFY(QFile::exists(QString::fromStdString(input)));   // the input is kept
        QVERIFY(!QFile::exists(QString::fromStdString(dir_->File("out.mkv")))); // empty output removed
        QVERIFY(!w.tmClose->isActive());
    }

    void theConversionsEndIsNotifiedWhenUnseen()
    {
        const std::string input = dir_->Write("in.avi", "x");
        QWidget other;  // where the user is meanwhile
        other.show();
        QStringList notices;
        for (bool ok : {true, false}) {
            notices.clear();
            WriteStandInEncoder(ok ? "printf done > \"$4\"\n" : "exit 3\n");
            TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-y -i %1 %2"));
            w.OnNotify = [&](const QString& summary, const QString& body) { notices << summary + "|" + body; };
            QStringList noticesAtTheBox;
            SetMessageHook([&](QWidget*, const QString&, const QString&, TMsgKind) {
                noticesAtTheBox = notices;
                return TMsgAnswer::Ok;
            });
            w.show();
            other.activateWindow();
            QTRY_VERIFY(other.isActiveWindow());
            QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
            if (ok) {
                QCOMPARE(notices[0], QString::fromStdString("Conversion finished|" + dir_->File("out.mkv")));
            } else {
                QCOMPARE(notices[0], QString::fromStdString("Conversion failed|Error (3)\n" + input));
                // Told before the encoder's output waits for the user.
                QTRY_COMPARE_WITH_TIMEOUT(noticesAtTheBox, notices, 5000);
            }
        }
    }

    void anOutputThatIsTheInputTakesANumberedName()
    {
        WriteStandInEncoder("for a; do out=$a; done\nprintf converted > \"$out\"\n");
        const std::string input = dir_->Write("clip.mkv", "x");
        TFormGetMain w(LocalJob(input, input, "-i %1 %2"));
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("OK - File converted"), 15000);
        QCOMPARE(TempDir::Read(input), std::string("x"));
        QCOMPARE(TempDir::Read(dir_->File("clip_01.mkv")), std::string("converted"));
        QCOMPARE(w.edFileName->text(), QString::fromStdString(dir_->File("clip_01.mkv")));
    }

    // A downloaded MP4 converted with the MP4 profile: the converted file sits
    // beside the download under a numbered name, as for a local file.
    void aDownloadConvertedToItsOwnFormatTakesANumberedName()
    {
        const std::string clip = MakeClip("Film.mp4", 1);
        QVERIFY(!clip.empty());
        TDownloadJob job = LocalJob(clip, clip, "-hide_banner -n -i %1 -c:v libx264 -preset fast -pix_fmt yuv420p %2");
        job.Source = "http://127.0.0.1:9/watch";
        job.MediaUrl = job.Source;
        job.TargetExt = "mp4";
        TFormGetMain w(job);
        w.ConvertFile();
        QCOMPARE(w.Caption(), QString("OK - File converted"));
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join("\n")));
        QVERIFY(QFile(QString::fromStdString(dir_->File("Film_01.mp4"))).size() > 0);
        QVERIFY(QFile(QString::fromStdString(clip)).size() > 0);
    }

    // A failed conversion says so in the caption and the title; an aborted one
    // leaves neither a file under its name nor its temporary file.
    void aFailedOrAbortedConversionLeavesNothingUnderItsName()
    {
        const std::string input = dir_->Write("in.avi", "x");
        // Writes part of a file, then fails.
        WriteStandInEncoder("for a; do out=$a; done\nprintf half > \"$out\"\nexit 1\n");
        {
            TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-i %1 %2"));
            w.show();
            QTRY_VERIFY_WITH_TIMEOUT(!w.Caption().startsWith("Convert") && w.Caption() != "Downloading...", 15000);
            QCOMPARE(w.Caption(), QString("Conversion failed: Error (1)"));
            QCOMPARE(w.AppTitle(), w.Caption());
            QCOMPARE(w.btnAbort->text(), QString("Close"));
        }
        QCOMPARE(Entries(), (QStringList{"bmt.ini", "bmt_errors.log", "ffmpeg", "in.avi"}));

        // Writes, then waits: Abort (and the button says so) while it writes.
        WriteStandInEncoder("for a; do out=$a; done\nprintf 'frame=  1 time=00:00:01.00\\n'\nprintf half > \"$out\"\nsleep 30\n");
        TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-i %1 %2"));
        QTimer user;
        user.setInterval(20);
        QString buttonWhileConverting;
        connect(&user, &QTimer::timeout, this, [&] {
            if (w.Converting && w.lblProgress->text().contains("Frame ")) {
                user.stop();
                buttonWhileConverting = w.btnAbort->text();
                QTest::mouseClick(w.btnAbort, Qt::LeftButton);
            }
        });
        user.start();
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Aborted"), 30000);
        QCOMPARE(buttonWhileConverting, QString("Abort"));
        QCOMPARE(Entries(), (QStringList{"bmt.ini", "bmt_errors.log", "ffmpeg", "in.avi"}));
        QCOMPARE(TempDir::Read(input), std::string("x"));
    }

    // Closing the window while it converts stops the encoder as Abort does.
    void closingWhileConvertingStopsAndRemovesTheOutput()
    {
        WriteStandInEncoder("for a; do out=$a; done\nprintf 'frame=  1 time=00:00:01.00\\n'\nprintf half > \"$out\"\nsleep 30\n");
        const std::string input = dir_->Write("in.avi", "x");
        TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-i %1 %2"));
        QTimer user;
        user.setInterval(20);
        connect(&user, &QTimer::timeout, this, [&] {
            if (w.Converting && w.lblProgress->text().contains("Frame ")) {
                user.stop();
                w.close();
            }
        });
        user.start();
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 30000);
        QVERIFY(!w.Converting);
        QStringList left = Entries();
        left.removeAll("bmt.ini.lock");  // the settings were saved on closing
        QVERIFY2(left == (QStringList{"bmt.ini", "ffmpeg", "in.avi"}), qPrintable(left.join(", ")));
    }

    void progressNeverFallsBackDuringARun()
    {
        // A stand-in encoder: a description for the probe, then progress lines
        // with a message between them, as a streamable MP4's second pass prints.
        WriteStandInEncoder(
            "for a; do out=$a; done\n"
            "printf 'frame=  100 fps=0.0 q=1.0 size=  1kB time=00:00:04.00 bitrate=1\\r'\n"
            "printf 'frame=  200 fps=0.0 q=1.0 size=  2kB time=00:00:08.00 bitrate=1\\r'\n"
            "printf '[mp4 @ 0x1] Starting second pass: moving the moov atom\\n'\n"
            "printf 'frame=  250 fps=0.0 q=1.0 Lsize=  3kB time=00:00:10.00 bitrate=1\\n'\n"
            "printf data > \"$out\"\n");
        const std::string input = dir_->Write("in.avi", "x");
        TFormGetMain w(LocalJob(input, dir_->File("out.avi"), "-i %1 %2"));
        QList<int> shown;
        connect(w.pb, &QProgressBar::valueChanged, this, [&](int v) { shown << v; });
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("OK - File converted"), 15000);
        QVERIFY2(shown.contains(40) && shown.contains(80), qPrintable(QString::number(shown.size())));
        const int first = static_cast<int>(shown.indexOf(40));
        for (int i = first + 1; i < shown.size(); ++i)
            QVERIFY(shown[i] >= shown[i - 1]);
        QCOMPARE(w.lblProgress->text(), QString("OK - File converted"));
    }

    void abortEndsOnlyThisWindowsEncoder_data()
    {
        QTest::addColumn<bool>("wrapper");
        QTest::newRow("encoder linked beside the program") << false;
        // A script that starts the real encoder as its child: no process runs
        // the encoder's path, so only the process group finds it.
        QTest::newRow("encoder wrapped in a script") << true;
    }

    void abortEndsOnlyThisWindowsEncoder()
    {
        QFETCH(bool, wrapper);
        const std::string input = MakeClip("long.avi", 30);
        QVERIFY(!input.empty());
        // Another encoder, not a child of this process, must survive the abort.
        qint64 otherPid = 0;
        QVERIFY(QProcess::startDetached(ffmpeg_,
                                        {"-v", "error", "-re", "-f", "lavfi", "-i", "testsrc=duration=120", "-f",
                                         "null", "-"},
                                        QString(), &otherPid));
        if (wrapper) {
            std::filesystem::remove(dir_->File("ffmpeg"));
            const std::string script =
                dir_->Write("ffmpeg", "#!/bin/sh\n'" + ffmpeg_.toStdString() + "' \"$@\"\n");
            std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        }
        TFormGetMain w(LocalJob(input, dir_->File("slow.avi"), "-y -re -i %1 -c:v mpeg4 %2"));
        // The conversion runs inside the window's event handling, as with a user:
        // the press comes from a timer once the encoder reports its first frames.
        QElapsedTimer sincePress;
        QTimer user;
        user.setInterval(50);
        connect(&user, &QTimer::timeout, this, [&] {
            if (w.Converting && w.lblProgress->text().contains("Frame ")) {
                user.stop();
                sincePress.start();
                QTest::mouseClick(w.btnAbort, Qt::LeftButton);
            }
        });
        user.start();
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Aborted"), 60000);
        QVERIFY(sincePress.isValid());
        // The clip plays in real time for 30 s: the encoder was ended, not run to its end.
        QVERIFY2(sincePress.elapsed() < 15000, qPrintable(QString::number(sincePress.elapsed())));
        QVERIFY(!w.Converting);
        QVERIFY(messages_.isEmpty()); // no failure message after an abort
        QVERIFY(!QFile::exists(QString::fromStdString(ErrorLogFile())));
        QVERIFY(QFile::exists(QString::fromStdString(input)));
        QCOMPARE(::kill(static_cast<pid_t>(otherPid), 0), 0);
        ::kill(static_cast<pid_t>(otherPid), SIGKILL);
    }

    void abortActsWhileTheEncoderIsSilent()
    {
        // One line, then silence for a minute (in a child of the script).
        WriteStandInEncoder(
            "printf 'Stream mapping:\\n'\n"
            "sleep 60\n");
        const std::string input = dir_->Write("in.avi", "x");
        TDownloadJob job = LocalJob(input, dir_->File("out.avi"), "-i %1 %2");
        job.DeleteInput = true;
        TFormGetMain w(job);
        QElapsedTimer sincePress;
        QTimer user;
        user.setInterval(50);
        connect(&user, &QTimer::timeout, this, [&] {
            if (w.Converting && !w.ConsoleLines.empty()) {
                user.stop();
                sincePress.start();
                QTest::mouseClick(w.btnAbort, Qt::LeftButton);
            }
        });
        user.start();
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("Aborted"), 90000);
        QVERIFY(sincePress.isValid());
        // The run ends only when every holder of the encoder's output is gone (the
        // script and its sleeping child), long before the minute of silence ends.
        QVERIFY2(sincePress.elapsed() < 15000, qPrintable(QString::number(sincePress.elapsed())));
        QVERIFY(messages_.isEmpty());
        QCOMPARE(TempDir::Read(input), std::string("x"));
    }

    void thousandsOfLinesKeepTheWalksPercentages()
    {
        // 30 000 warning lines, with a progress line after every 3 000: the
        // percentages shown are those of the progress lines, one after the other.
        WriteStandInEncoder(
            "for a; do out=$a; done\n"
            "s=1\n"
            "while [ $s -le 10 ]; do\n"
            "  i=0\n"
            "  while [ $i -lt 3000 ]; do\n"
            "    printf '[mp3float @ 0x1] overread, skip -5 enddists: -3 -3\\n'\n"
            "    i=$((i+1))\n"
            "  done\n"
            "  printf 'frame=%5d fps=0.0 q=-0.0 size=  1kB time=00:00:%02d.00 bitrate=1\\r' $((s*25)) $s\n"
            "  s=$((s+1))\n"
            "done\n"
            "printf data > \"$out\"\n");
        const std::string input = dir_->Write("in.mp3", "x");
        TFormGetMain w(LocalJob(input, dir_->File("out.mp3"), "-i %1 %2"));
        QList<int> shown;
        connect(w.pb, &QProgressBar::valueChanged, this, [&](int v) {
            if (shown.isEmpty() || shown.last() != v)
                shown << v;
        });
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("OK - File converted"), 120000);
        QCOMPARE(shown, (QList<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    }

    void aJobWithoutConversionNeverStartsTheEncoder()
    {
        // An encoder that would leave a mark and delete nothing itself.
        std::filesystem::remove(dir_->File("ffmpeg"));
        const std::string mark = dir_->File("encoder-ran");
        const std::string script = dir_->Write("ffmpeg", "#!/bin/sh\ntouch '" + mark + "'\nexit 0\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        const std::string input = dir_->Write("in.avi", "keep");
        TDownloadJob job = LocalJob(input, dir_->File("out.avi"), "-");
        job.DeleteInput = true;
        TFormGetMain w(job);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.Caption(), QString("No conversion chosen - nothing to do"), 10000);
        QCOMPARE(w.btnAbort->text(), QString("Close"));
        QVERIFY(!w.Converting);
        QVERIFY(!QFile::exists(QString::fromStdString(mark)));
        QCOMPARE(TempDir::Read(input), std::string("keep"));
        QVERIFY(messages_.isEmpty());
    }
};

QTEST_MAIN(ConvertWindowTest)
#include "ConvertWindowTest.moc"
