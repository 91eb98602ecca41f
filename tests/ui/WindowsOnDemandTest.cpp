// SPDX-License-Identifier: GPL-3.0-or-later
// On a real X server (Xvfb): twelve addresses given to "brimtale --add" become
// twelve downloads, none of which ever shows a window, and no download process
// is left once they are done; a single job of the dialog still shows its
// window. What shows is asked of the X server (xdotool), not of the program.

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "download/JobList.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "ui/DownloadList.h"
#include "ui/Main.h"
#include "ui/RunningInstance.h"

#include <QLocalSocket>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

// The windows of the process pid that the X server shows now.
int VisibleWindows(std::int64_t pid)
{
    TProgramOptions options;
    options.Limit = std::chrono::seconds(10);
    const TProgramRun run = RunProgram("/usr/bin/xdotool", {"search", "--onlyvisible", "--pid", std::to_string(pid)},
                                       options);
    int count = 0;
    for (const char c : run.Out)
        count += c == '\n';
    return count;
}


} // namespace

class TWindowsOnDemandTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qgetenv("QT_QPA_PLATFORM") != "xcb" || qgetenv("DISPLAY").isEmpty())
            QSKIP("needs an X server (run through xvfb-run)");
        home_ = std::make_unique<TempDir>();
        // Through Qt, which holds its lock: Qt Test's watchdog thread reads the
        // environment as each test function starts.
        qputenv("HOME", QByteArray(home_->Path().c_str()));
        qputenv("XDG_CONFIG_HOME", QByteArray((home_->Path() + "/config").c_str()));
        qputenv("XDG_DATA_HOME", QByteArray((home_->Path() + "/data").c_str()));
        const std::string runtime = home_->Path() + "/runtime";
        ::mkdir(runtime.c_str(), 0700);
        qputenv("XDG_RUNTIME_DIR", QByteArray(runtime.c_str()));
        exe_ = dir_.File("brimtale");
        PlaceProgram(BRIMTALE_EXE, exe_);
        // Windows for single jobs are on: jobs that come as many open none all the same.
        dir_.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\nMaxDownloads=3\r\nShowDownloadWindows=1\r\n"
                              "Notifications=0\r\nAutoClose=0\r\n");
        InitAppDirsFor(dir_.Path());
        SettingsFile = DataDir + "/bmt.ini";
        InitSettings();
        LoadSettings(SettingsFile);
        ProgramExecutable = exe_;
    }

    void twelveAddedJobsOpenNoWindowAndLeaveNoProcess()
    {
        constexpr std::uint64_t Size = 384 * 1024;
        testhttp::TestHttpServer server(std::chrono::seconds(180));
        std::vector<std::string> outputs;
        for (int i = 1; i <= 12; ++i) {
            server.Handle("/clip" + std::to_string(i) + ".mp4",
                          [](const testhttp::Request&) { return testhttp::PacedMedia(Size, 40); });
            outputs.push_back(dir_.File("videos/clip" + std::to_string(i) + ".mp4"));
        }
        ::mkdir(dir_.File("videos").c_str(), 0755);
        // One address at a time, as a user adds them; the first starts the program.
        for (int i = 1; i <= 12; ++i) {
            const TProgramRun add = RunProgram(
                exe_, {"--add", "-d", dir_.File("videos"), server.Url("/clip" + std::to_string(i) + ".mp4")});
            QVERIFY2(add.Status == 0, add.Err.c_str());
        }
        // Watched until every job is done: no download process shows a window.
        int shown = 0;
        bool seen = false;  // the watch saw the processes run
        const auto allDone = [&] {
            for (const pid_t pid : DownloadProcesses(exe_)) {
                shown += VisibleWindows(pid);
                seen = true;
            }
            const TJobList list = LoadJobList(JobListFile());
            if (list.Size() != 12)
                return false;
            for (const TJobRow& row : list.Rows())
                if (row.State != TJobState::Done)
                    return false;
            return true;
        };
        const bool done = QTest::qWaitFor(allDone, 150000);
        // And once they are done, no process of theirs stays behind.
        const bool gone = QTest::qWaitFor([&] { return DownloadProcesses(exe_).empty(); }, 20000);
        for (const pid_t pid : DownloadProcesses(exe_))
            ::kill(pid, SIGKILL);
        KillProgram(exe_);
        QVERIFY(done);
        QVERIFY(gone);
        QCOMPARE(shown, 0);
        QVERIFY(seen);
        for (const std::string& out : outputs)
            QVERIFY2(FileSizeOf(out) == static_cast<std::int64_t>(Size), out.c_str());
    }

    void aSingleJobOfTheDialogShowsItsWindow()
    {
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Handle("/one.mp4", [](const testhttp::Request&) { return testhttp::PacedMedia(256 * 1024, 20); });
        TFormMain w;
        TInstanceServer instances;
        QVERIFY(instances.Listen());
        connect(&instances, &TInstanceServer::reportReceived, &w,
                [&w](const TJobReport& report, QLocalSocket* connection) { w.Queue()->TakeReport(report, connection); });
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = job.MediaUrl = server.Url("/one.mp4");
        job.OutputFile = dir_.File("one.mp4");
        job.ExpectedSize = 256 * 1024;
        job.EncoderParams = job.EncoderExt = job.TargetExt = "-";
        QVERIFY(w.GetFile(job));
        const std::int64_t pid = w.Queue()->List().Rows().back().Pid;
        QVERIFY(pid > 0);
        const bool shows = QTest::qWaitFor([&] { return VisibleWindows(pid) > 0; }, 30000);
        const TJobRow& row = w.Queue()->List().Rows().back();
        const bool done = QTest::qWaitFor([&] { return row.State == TJobState::Done; }, 30000);
        // Its window stays with the result, as the user left it to look.
        const bool stays = VisibleWindows(pid) > 0;
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        QVERIFY(shows);
        QVERIFY(done);
        QVERIFY(stays);
    }

private:
    std::unique_ptr<TempDir> home_;
    TempDir dir_;
    std::string exe_;
};

QTEST_MAIN(TWindowsOnDemandTest)
#include "WindowsOnDemandTest.moc"
