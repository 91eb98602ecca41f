// SPDX-License-Identifier: GPL-3.0-or-later
// The list of jobs in the main window with real download processes on
// 127.0.0.1: the queue's limit, the states the list shows, a start after
// everything was killed, many rows, and reports that are not to be believed.

#include "app/DownloadJob.h"
#include "app/DownloadListTexts.h"
#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "download/JobList.h"
#include "system/ZQ_FileSystem.h"
#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "ui/DownloadList.h"
#include "ui/Main.h"
#include "ui/RunningInstance.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLocalSocket>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// A folder with a copy of the built program, so that its settings, its list
// and the download processes' settings all stay in the test's folder.
struct TProgramCopy {
    TempDir Dir;
    std::string Exe;

    explicit TProgramCopy(const std::string& ini)
    {
        Exe = Dir.File("brimtale");
        PlaceProgram(BRIMTALE_EXE, Exe);
        Dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n" + ini);
        InitAppDirsFor(Dir.Path());
        SettingsFile = DataDir + "/bmt.ini";
        InitSettings();
        LoadSettings(SettingsFile);
        ProgramExecutable = Exe;
    }
};


TDownloadJob WebJob(const std::string& url, const std::string& output, std::int32_t size)
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = url;
    job.MediaUrl = url;
    job.OutputFile = output;
    job.ExpectedSize = size;
    job.EncoderParams = job.EncoderExt = job.TargetExt = "-";
    return job;
}

} // namespace

class TDownloadListTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        home_ = std::make_unique<TempDir>();
        // Through Qt, which holds its lock: Qt Test's watchdog thread reads the
        // environment as each test function starts.
        qputenv("HOME", QByteArray(home_->Path().c_str()));
        qputenv("XDG_DATA_HOME", QByteArray((home_->Path() + "/data").c_str()));
        qputenv("XDG_CONFIG_HOME", QByteArray((home_->Path() + "/config").c_str()));
        const std::string runtime = home_->Path() + "/runtime";
        ::mkdir(runtime.c_str(), 0700);
        qputenv("XDG_RUNTIME_DIR", QByteArray(runtime.c_str()));
    }

    // Six paced downloads with two places: never more than two download
    // processes, every state change shown in order, every file whole.
    void queueRunsAtMostMaxDownloads()
    {
        TProgramCopy program("MaxDownloads=2\r\nShowDownloadWindows=0\r\nAutoClose=0\r\n");
        QCOMPARE(AppSettings.MaxDownloads, 2);
        constexpr std::uint64_t Size = 640 * 1024;
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        for (int i = 1; i <= 6; ++i)
            server.Handle("/f" + std::to_string(i) + ".mp4", [](const testhttp::Request&) { return testhttp::PacedMedia(Size, 60); });

        TFormMain w;
        TInstanceServer instances;
        QVERIFY(instances.Listen());
        connect(&instances, &TInstanceServer::reportReceived, &w,
                [&w](const TJobReport& report, QLocalSocket* connection) { w.Queue()->TakeReport(report, connection); });
        std::map<std::uint64_t, std::vector<TJobState>> seen;
        connect(w.Queue(), &TDownloadQueue::stateChanged, this,
                [&seen](std::uint64_t id, TJobState state) { seen[id].push_back(state); });
        std::size_t most = 0;
        QTimer count;
        connect(&count, &QTimer::timeout, this, [&] { most = std::max(most, DownloadProcesses(program.Exe).size()); });
        count.start(10);

        std::vector<std::string> outputs;
        for (int i = 1; i <= 6; ++i) {
            outputs.push_back(program.Dir.File("clip " + std::to_string(i) + ".mp4"));
            QVERIFY(w.GetFile(WebJob(server.Url("/f" + std::to_string(i) + ".mp4"), outputs.back(), Size)));
        }
        QCOMPARE(w.Queue()->Model()->rowCount(), 6);
        QCOMPARE(w.Queue()->List().RunningCount(), 2);

        const auto allDone = [&] {
            for (const TJobRow& row : w.Queue()->List().Rows())
                if (row.State != TJobState::Done || row.Running)
                    return false;
            return true;
        };
        const bool done = QTest::qWaitFor(allDone, 90000);
        count.stop();
        for (const pid_t pid : DownloadProcesses(program.Exe))
            ::kill(pid, SIGKILL);
        QVERIFY2(done, qPrintable(QString("states: ") + [&] {
                     QString s;
                     for (const TJobRow& row : w.Queue()->List().Rows())
                         s += QString(JobStateName(row.State)) + " ";
                     return s;
                 }()));
        QVERIFY2(most <= 2, qPrintable(QString("%1 download processes at once").arg(most)));
        QVERIFY(most >= 1);
        const std::string body = testhttp::GeneratedBody(0, Size);
        for (const std::string& out : outputs)
            QVERIFY2(TempDir::Read(out) == body, out.c_str());
        for (const auto& [id, states] : seen)
            QCOMPARE(states, (std::vector<TJobState>{TJobState::Downloading, TJobState::Done}));
        QCOMPARE(seen.size(), std::size_t(6));
        // The list shows it, in the window's language.
        const QModelIndex state = w.Queue()->Model()->index(5, TJobTableModel::ColState);
        QCOMPARE(state.data().toString(), QString::fromUtf8(DownloadListTexts(false).States[4]));
        QCOMPARE(w.Queue()->Model()->index(5, TJobTableModel::ColPercent).data().toString(), QString("100 %"));

        // The list is in its file; a removed row goes from there, its file stays.
        const std::uint64_t first = w.Queue()->List().Rows().front().Id;
        w.pnDownloads->View()->setCurrentIndex(w.pnDownloads->ViewIndex(0));
        QVERIFY(w.pnDownloads->actRemove->isEnabled());
        QTest::mouseClick(w.pnDownloads->findChild<QToolButton*>("btnRemove"), Qt::LeftButton);
        QCOMPARE(w.Queue()->Model()->rowCount(), 5);
        QVERIFY(FileExists(outputs[0]));
        w.Queue()->SaveNow();
        const TJobList saved = LoadJobList(JobListFile());
        QCOMPARE(saved.Size(), std::size_t(5));
        QVERIFY(!saved.Find(first));
    }

    // A download with a conversion: the list shows it downloading, converting,
    // then done, in that order.
    void conversionStatesFollowInOrder()
    {
        TProgramCopy program("MaxDownloads=3\r\nShowDownloadWindows=0\r\n");
        const std::string clip = fixtures::MakeClip(program.Dir.File("source.mp4"), 2);
        QVERIFY(!clip.empty());
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        server.Serve("/clip.mp4", TempDir::Read(clip), "video/mp4");
        TFormMain w;
        TInstanceServer instances;
        QVERIFY(instances.Listen());
        connect(&instances, &TInstanceServer::reportReceived, &w,
                [&w](const TJobReport& report, QLocalSocket* connection) { w.Queue()->TakeReport(report, connection); });
        std::vector<TJobState> seen;
        connect(w.Queue(), &TDownloadQueue::stateChanged, this,
                [&seen](std::uint64_t, TJobState state) { seen.push_back(state); });
        TDownloadJob job = WebJob(server.Url("/clip.mp4"), program.Dir.File("clip.mp4"),
                                  static_cast<std::int32_t>(FileSizeOf(clip)));
        job.EncoderParams = "-hide_banner -n -i %1 -c copy %2";
        job.TargetExt = "mkv";
        QVERIFY(w.GetFile(job));
        const TJobRow& row = w.Queue()->List().Rows().front();
        const bool ended = QTest::qWaitFor([&] { return JobStateEnded(row.State) && !row.Running; }, 60000);
        for (const pid_t pid : DownloadProcesses(program.Exe))
            ::kill(pid, SIGKILL);
        QVERIFY(ended);
        QCOMPARE(seen, (std::vector<TJobState>{TJobState::Downloading, TJobState::Converting, TJobState::Done}));
        QVERIFY(FileSizeOf(program.Dir.File("clip.mkv")) > 0);
    }

    // Abort from the list stops the process and keeps the partial file;
    // Retry / Resume continues it with a range request.
    void abortThenResumeFromTheList()
    {
        TProgramCopy program("MaxDownloads=3\r\nShowDownloadWindows=0\r\n");
        constexpr std::uint64_t Size = 1024 * 1024;
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        server.Handle("/slow.mp4", [](const testhttp::Request&) { return testhttp::PacedMedia(Size, 150); });
        TFormMain w;
        w.show();
        TInstanceServer instances;
        QVERIFY(instances.Listen());
        connect(&instances, &TInstanceServer::reportReceived, &w,
                [&w](const TJobReport& report, QLocalSocket* connection) { w.Queue()->TakeReport(report, connection); });
        const std::string out = program.Dir.File("slow.mp4");
        QVERIFY(w.GetFile(WebJob(server.Url("/slow.mp4"), out, Size)));
        const TJobRow& row = w.Queue()->List().Rows().front();
        QVERIFY(QTest::qWaitFor(
            [&] { return row.State == TJobState::Downloading && FileSizeOf(out) >= 64 * 1024; }, 30000));
        w.pnDownloads->View()->setCurrentIndex(w.pnDownloads->ViewIndex(0));
        QVERIFY(w.pnDownloads->actShowWindow->isEnabled());
        QTest::mouseClick(w.pnDownloads->findChild<QToolButton*>("btnAbortJob"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return row.State == TJobState::Aborted && !row.Running; }, 30000));
        const std::int64_t kept = FileSizeOf(out);
        QVERIFY(kept > 0 && kept < static_cast<std::int64_t>(Size));
        QVERIFY(DownloadProcesses(program.Exe).empty());

        QVERIFY(w.pnDownloads->actRetry->isEnabled());
        QTest::mouseClick(w.pnDownloads->findChild<QToolButton*>("btnRetry"), Qt::LeftButton);
        const bool done = QTest::qWaitFor([&] { return row.State == TJobState::Done && !row.Running; }, 60000);
        for (const pid_t pid : DownloadProcesses(program.Exe))
            ::kill(pid, SIGKILL);
        QVERIFY(done);
        QVERIFY(TempDir::Read(out) == testhttp::GeneratedBody(0, Size));
        const std::vector<testhttp::Request> requests = server.Requests();
        QVERIFY(requests.back().headers.count("range"));
        QCOMPARE(Q(requests.back().headers.at("range")), QString("bytes=%1-").arg(kept));
    }

    // Space pauses a running download: its process ends and keeps the bytes;
    // the row keeps its place while another job takes the free place; Space
    // again continues the file with a range request.
    void pauseKeepsTheBytesAndResumeContinuesThem()
    {
        TProgramCopy program("MaxDownloads=1\r\nShowDownloadWindows=0\r\n");
        constexpr std::uint64_t Size = 1024 * 1024;
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        server.Handle("/slow.mp4", [](const testhttp::Request&) { return testhttp::PacedMedia(Size, 150); });
        server.Handle("/next.mp4", [](const testhttp::Request&) { return testhttp::PacedMedia(64 * 1024, 10); });
        TFormMain w;
        w.show();
        TInstanceServer instances;
        QVERIFY(instances.Listen());
        connect(&instances, &TInstanceServer::reportReceived, &w,
                [&w](const TJobReport& report, QLocalSocket* connection) { w.Queue()->TakeReport(report, connection); });
        const std::string out = program.Dir.File("slow.mp4");
        QVERIFY(w.GetFile(WebJob(server.Url("/slow.mp4"), out, Size)));
        QVERIFY(w.GetFile(WebJob(server.Url("/next.mp4"), program.Dir.File("next.mp4"), 64 * 1024)));
        const TJobRow* row = &w.Queue()->List().Rows().front();
        QVERIFY(QTest::qWaitFor(
            [&] { return row->State == TJobState::Downloading && FileSizeOf(out) >= 64 * 1024; }, 30000));
        QTableView* view = w.pnDownloads->View();
        view->setCurrentIndex(w.pnDownloads->ViewIndex(0));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(QTest::qWaitFor([&] { return row->State == TJobState::Paused && !row->Running; }, 30000));
        const std::int64_t kept = FileSizeOf(out);
        QVERIFY(kept > 0 && kept < static_cast<std::int64_t>(Size));
        // The next job ran in the free place; the paused one is still first.
        const TJobRow* next = &w.Queue()->List().Rows()[1];
        QVERIFY2(QTest::qWaitFor([&] { return next->State == TJobState::Done && !next->Running; }, 30000),
                 JobStateName(next->State));
        QCOMPARE(w.Queue()->List().Rows().front().Id, row->Id);
        QCOMPARE(row->State, TJobState::Paused);

        QCOMPARE(w.pnDownloads->actPause->text(), QString("Resume"));
        QTest::keyClick(view, Qt::Key_Space);
        row = &w.Queue()->List().Rows().front();
        const bool done = QTest::qWaitFor([&] { return row->State == TJobState::Done && !row->Running; }, 60000);
        for (const pid_t pid : DownloadProcesses(program.Exe))
            ::kill(pid, SIGKILL);
        QVERIFY(done);
        QVERIFY(TempDir::Read(out) == testhttp::GeneratedBody(0, Size));
        std::string range;
        for (const testhttp::Request& request : server.Requests())
            if (request.path == "/slow.mp4" && request.headers.count("range"))
                range = request.headers.at("range");
        QCOMPARE(Q(range), QString("bytes=%1-").arg(kept));
    }

    // The program and its download processes killed in the middle: the next
    // start shows the jobs again and finishes every file with range requests.
    // The addresses come through "brimtale --add".
    void killedProgramResumesAtStart()
    {
        TProgramCopy program("MaxDownloads=3\r\nShowDownloadWindows=0\r\nResumeAtStart=1\r\n");
        constexpr std::uint64_t Size = 1536 * 1024;
        testhttp::TestHttpServer server(std::chrono::seconds(150));
        for (int i = 1; i <= 3; ++i)
            server.Handle("/v" + std::to_string(i) + ".mp4", [](const testhttp::Request&) { return testhttp::PacedMedia(Size, 80); });
        const std::string videos = program.Dir.File("videos");
        std::filesystem::create_directory(videos);

        const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
        std::atomic<pid_t> programPid{0};
        std::thread runner;
        auto startProgram = [&] {
            runner = std::thread([&] {
                TProgramOptions options;
                options.Env = env;
                options.Limit = std::chrono::seconds(120);
                options.WhileRunning = [&](pid_t pid, const TProgramRun&) { programPid = pid; };
                RunProgram(program.Exe, {}, options);
            });
        };
        // --add starts the program itself when none runs.
        const TProgramRun add = RunProgram(program.Exe, {"--add", "-d", videos, server.Url("/v1.mp4"),
                                                         server.Url("/v2.mp4"), server.Url("/v3.mp4")},
                                           TProgramOptions{env, {}, std::chrono::seconds(60)});
        QCOMPARE(add.Status, 0);
        const auto files = [&] {
            std::vector<std::string> out;
            for (int i = 1; i <= 3; ++i)
                out.push_back(videos + "/v" + std::to_string(i) + ".mp4");
            return out;
        }();
        // Every file has begun.
        const bool begun = QTest::qWaitFor(
            [&] {
                for (const std::string& f : files)
                    if (FileSizeOf(f) < 128 * 1024)
                        return false;
                return true;
            },
            60000);
        // Every process of the copy goes at once.
        std::vector<pid_t> killed = DownloadProcesses(program.Exe);
        for (const pid_t pid : killed)
            ::kill(pid, SIGKILL);
        const std::string programs = KillProgram(program.Exe);
        QVERIFY(begun);
        QVERIFY(!programs.empty());
        QCOMPARE(killed.size(), std::size_t(3));
        for (const std::string& f : files)
            QVERIFY(FileSizeOf(f) < static_cast<std::int64_t>(Size));

        const std::size_t before = server.Requests().size();
        startProgram();
        const std::string body = testhttp::GeneratedBody(0, Size);
        const bool whole = QTest::qWaitFor(
            [&] {
                for (const std::string& f : files)
                    if (FileSizeOf(f) != static_cast<std::int64_t>(Size))
                        return false;
                return DownloadProcesses(program.Exe).empty();
            },
            90000);
        if (programPid > 0)
            ::kill(programPid, SIGKILL);
        for (const pid_t pid : DownloadProcesses(program.Exe))
            ::kill(pid, SIGKILL);
        runner.join();
        QVERIFY(whole);
        for (const std::string& f : files)
            QVERIFY2(TempDir::Read(f) == body, f.c_str());
        // Each file continued where it ended.
        const std::vector<testhttp::Request> requests = server.Requests();
        int ranged = 0;
        for (std::size_t i = before; i < requests.size(); ++i)
            if (requests[i].headers.count("range") && requests[i].headers.at("range") != "bytes=0-")
                ++ranged;
        QVERIFY2(ranged >= 3, qPrintable(QString("%1 range requests").arg(ranged)));
        QCOMPARE(LoadJobList(JobListFile()).Size(), std::size_t(3));
    }

    // "brimtale --add --playlist" with a page of three videos: three jobs of
    // the list, their files whole in a folder named after the page.
    void addPlaylistQueuesEveryVideo()
    {
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TProgramCopy program("MaxDownloads=3\r\nShowDownloadWindows=0\r\n");
        testhttp::TestHttpServer server(std::chrono::seconds(150));
        TempDir media;
        std::vector<std::string> clips;
        for (const char* name : {"a", "b", "c"}) {
            const std::string clip = fixtures::MakeClip(media.File(std::string(name) + ".mp4"), 1 + (name[0] - 'a'));
            QVERIFY(!clip.empty());
            clips.push_back(TempDir::Read(clip));
            server.Serve(std::string("/") + name + ".mp4", clips.back(), "video/mp4");
        }
        server.Serve("/list", "<html><head><title>My list</title></head><body><video src=\"/a.mp4\"></video>"
                              "<video src=\"/b.mp4\"></video><video src=\"/c.mp4\"></video></body></html>");
        const std::string videos = program.Dir.File("videos");
        std::filesystem::create_directory(videos);
        const std::string folder = videos + "/My list";

        const TProgramRun add = RunProgram(program.Exe, {"--add", "--playlist", "-d", videos, server.Url("/list")},
                                           TProgramOptions{{"QT_QPA_PLATFORM=offscreen"}, {}, std::chrono::seconds(60)});
        QCOMPARE(add.Status, 0);
        const auto filesIn = [&] {
            std::vector<std::string> contents;
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error))
                contents.push_back(entry.path().filename().string().front() == '.' ? std::string("hidden")
                                                                                   : TempDir::Read(entry.path()));
            std::sort(contents.begin(), contents.end());
            return contents;
        };
        std::vector<std::string> expected = clips;
        std::sort(expected.begin(), expected.end());
        const bool whole = QTest::qWaitFor(
            [&] {
                return filesIn() == expected && DownloadProcesses(program.Exe).empty() &&
                       LoadJobList(JobListFile()).Size() == 3;
            },
            120000);
        KillProgram(program.Exe);
        for (const pid_t pid : DownloadProcesses(program.Exe))
            ::kill(pid, SIGKILL);
        QVERIFY2(whole, qPrintable(QString("%1 entries in the folder, %2 rows in the list")
                                       .arg(filesIn().size())
                                       .arg(LoadJobList(JobListFile()).Size())));
    }

    void anAddedAddressThatFailsSaysWhyInTheProgramsWords_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    // Addresses of "brimtale --add" that the server answers with an error, or
    // that give a file of no media: their rows fail with the program's words,
    // and the engine's own line comes below them in the row's tooltip only.
    void anAddedAddressThatFailsSaysWhyInTheProgramsWords()
    {
        QFETCH(bool, polish);
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TProgramCopy program("MaxDownloads=4\r\nShowDownloadWindows=0\r\n");
        AppSettings.LangPolish = polish;
        testhttp::TestHttpServer server(std::chrono::seconds(150));
        testhttp::ServeRefusalsAndAPlainFile(server);
        struct TCase {
            const char* Path;
            const char* English;
            const char* Polish;
            const char* EngineLine;  // nullptr: the engine is not asked
        };
        const TCase cases[] = {
            {"/missing", "The server says this address does not exist (404).",
             "Serwer podaje, że ten adres nie istnieje (404).", "HTTP Error 404"},
            {"/status403", "The server refused access (403).", "Serwer odmówił dostępu (403).", "HTTP Error 403"},
            {"/status500", "The server failed (500).", "Wystąpił błąd serwera (500).", "HTTP Error 500"},
            {"/files/data.bin", "This address gives a file that is no video or music.",
             "Pod tym adresem jest plik, który nie jest filmem ani muzyką.", nullptr},
        };

        TFormMain w;
        std::vector<TAddedAddress> added;
        for (const TCase& c : cases)
            added.push_back(TAddedAddress{server.Url(c.Path), program.Dir.File("videos"), "", "", false});
        w.Queue()->AddAddresses(added);
        const auto allFailed = [&] {
            const std::vector<TJobRow>& rows = w.Queue()->List().Rows();
            return rows.size() == std::size(cases) && std::all_of(rows.begin(), rows.end(), [](const TJobRow& row) {
                       return row.State == TJobState::Failed && !row.Running;
                   });
        };
        QVERIFY2(QTest::qWaitFor(allFailed, 120000), "every added address fails");
        TJobTableModel* model = w.Queue()->Model();
        for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
            const TCase& c = cases[i];
            const QString message = QString::fromUtf8(polish ? c.Polish : c.English);
            QCOMPARE(Q(w.Queue()->List().Rows()[static_cast<std::size_t>(i)].Message), message);
            QCOMPARE(model->index(i, TJobTableModel::ColState).data().toString(),
                     QString::fromUtf8(
                         DownloadListTexts(polish).States[static_cast<std::size_t>(TJobState::Failed)]));
            const QString tip = model->index(i, TJobTableModel::ColTitle).data(Qt::ToolTipRole).toString();
            const QStringList lines = tip.split('\n');
            QVERIFY2(lines.size() >= 2 && lines[0] == Q(server.Url(c.Path)) && lines[1] == message, qPrintable(tip));
            if (c.EngineLine)
                QVERIFY2(lines.size() == 3 && lines[2].contains(c.EngineLine), qPrintable(tip));
            else
                QVERIFY2(lines.size() == 2, qPrintable(tip));
        }
        AppSettings.LangPolish = false;
    }

    // A thousand queued jobs: the list is a model, so adding them leaves the
    // window free to paint between the batches.
    void thousandQueuedRowsKeepTheWindowPainting()
    {
        TProgramCopy program("MaxDownloads=3\r\n");
        TFormMain w;
        // The running ones are this test's own process: it never ends here.
        w.Queue()->StartProcess = [](const std::vector<std::string>&) { return std::int64_t(::getpid()); };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        int paints = 0;
        struct TPaintCounter : QObject {
            int& count;
            explicit TPaintCounter(int& c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Paint)
                    ++count;
                return false;
            }
        } counter(paints);
        w.pnDownloads->View()->viewport()->installEventFilter(&counter);
        int batch = 0;
        int paintedBatches = 0;
        while (batch < 20) {
            for (int i = 0; i < 50; ++i) {
                const std::string name = program.Dir.File(std::to_string(batch * 50 + i) + ".mp4");
                w.Queue()->AddJob(WebJob("http://127.0.0.1:9/x", name, 1000), name);
            }
            const int before = paints;
            w.pnDownloads->View()->scrollToBottom();
            w.pnDownloads->View()->viewport()->update();
            if (QTest::qWaitFor([&] { return paints > before; }, 5000))
                ++paintedBatches;
            ++batch;
        }
        QCOMPARE(paintedBatches, 20);
        QCOMPARE(w.Queue()->Model()->rowCount(), 1000);
        QCOMPARE(w.Queue()->List().RunningCount(), 3);
        QCOMPARE(w.Queue()->Model()->index(999, TJobTableModel::ColState).data().toString(),
                 QString::fromUtf8(DownloadListTexts(false).States[0]));
    }

    // The options on the Options tab go to bmt.ini at once; the row actions do
    // what they say, and double-click opens the file.
    void optionsAndRowActions()
    {
        TProgramCopy program("MaxDownloads=1\r\n");
        TFormMain w;
        std::vector<std::vector<std::string>> started;
        w.Queue()->StartProcess = [&started](const std::vector<std::string>& args) {
            started.push_back(args);
            return std::int64_t(::getpid());
        };
        std::vector<std::string> opened;
        w.Queue()->OpenPath = [&opened](const std::string& path) { opened.push_back(path); };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The list is the window, also while it is empty.
        QVERIFY(w.pnDownloads->isVisible());

        w.pc->setCurrentWidget(w.tsOptions);
        QCOMPARE(w.seMaxDownloads->value(), 1);
        w.seMaxDownloads->setFocus();
        QTest::keyClick(w.seMaxDownloads, Qt::Key_Up);
        QTest::mouseClick(w.chShowDownloadWindows, Qt::LeftButton);
        QTest::mouseClick(w.chResumeAtStart, Qt::LeftButton);
        QCOMPARE(w.seConnections->value(), 4);
        w.seConnections->setFocus();
        QTest::keyClick(w.seConnections, Qt::Key_Down);
        {
            TIniFile ini(SettingsFile);
            QCOMPARE(ini.ReadInteger("Main", "Connections", 0), 3);
            QCOMPARE(ini.ReadInteger("Main", "MaxDownloads", 0), 2);
            QCOMPARE(ini.ReadBool("Main", "ShowDownloadWindows", true), false);
            QCOMPARE(ini.ReadBool("Main", "ResumeAtStart", true), false);
        }
        QCOMPARE(w.chShowDownloadWindows->text(), QString("Show a window for each download"));

        // The first job's file, reserved empty as the dialog does; its bytes come later.
        const std::string file = program.Dir.Write("kept.mp4", "");
        for (int i = 0; i < 3; ++i) {
            TDownloadJob job = WebJob("http://127.0.0.1:9/v", i == 0 ? file : program.Dir.File("q.mp4"), 5);
            job.OutputId = FileIdOf(job.OutputFile);
            QVERIFY(w.GetFile(job));
        }
        std::ofstream(file, std::ios::binary | std::ios::in) << "bytes";
        w.pc->setCurrentWidget(w.tsMain);
        QVERIFY(w.pnDownloads->isVisible());
        QCOMPARE(started.size(), std::size_t(2));
        QCOMPARE(started[0].back(), std::string("0"));     // a fresh start
        QCOMPARE(started[0][started[0].size() - 2], std::string("0"));  // no window of its own
        QTableView* view = w.pnDownloads->View();
        auto click = [&](const char* button) {
            QTest::mouseClick(w.pnDownloads->findChild<QToolButton*>(button), Qt::LeftButton);
        };
        // The third one waits: Abort keeps it from starting, Retry queues it again.
        view->setCurrentIndex(w.pnDownloads->ViewIndex(2));
        QVERIFY(!w.pnDownloads->actRetry->isEnabled());
        click("btnAbortJob");
        QCOMPARE(w.Queue()->List().Rows()[2].State, TJobState::Aborted);
        QVERIFY(w.pnDownloads->actRetry->isEnabled());
        click("btnRetry");
        QCOMPARE(w.Queue()->List().Rows()[2].State, TJobState::Queued);
        // A running row can't be removed, nor its file opened while it is
        // written (its folder can); a finished one's file is opened.
        view->setCurrentIndex(w.pnDownloads->ViewIndex(0));
        QVERIFY(!w.pnDownloads->actRemove->isEnabled());
        QVERIFY(!w.pnDownloads->actOpenFile->isEnabled());
        const QRect cell = view->visualRect(w.pnDownloads->ViewIndex(0));
        // A double click as the platform sends it: a click, then the second press.
        const auto doubleClick = [&] {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        };
        doubleClick();
        click("btnOpenFolder");
        QVERIFY2(opened == (std::vector<std::string>{program.Dir.Path()}), opened.empty() ? "none" : opened[0].c_str());
        TJobReport done;
        done.Id = w.Queue()->List().Rows()[0].Id;
        done.State = TJobState::Done;
        done.Pid = ::getpid();
        done.Done = done.Total = 5;
        done.File = file;
        w.Queue()->TakeReport(done, nullptr);
        QVERIFY(w.pnDownloads->actOpenFile->isEnabled());
        doubleClick();
        QVERIFY(opened == (std::vector<std::string>{program.Dir.Path(), file}));
        QVERIFY(FileExists(file));

        // Both languages.
        w.cbLanguage->setCurrentIndex(1);
        QCOMPARE(w.chResumeAtStart->text(), QString::fromUtf8(DownloadListTexts(true).ResumeAtStart));
        QCOMPARE(w.Queue()->Model()->headerData(TJobTableModel::ColState, Qt::Horizontal).toString(), QString::fromUtf8("Stan"));
        QCOMPARE(w.pnDownloads->actRemove->text(), QString::fromUtf8("Usuń z listy"));
        w.cbLanguage->setCurrentIndex(0);
    }

    // Reports that are not a download process's of this user are not taken,
    // and their connections go.
    void foreignMalformedAndOversizedReportsAreIgnored()
    {
        TempDir dir;
        ::chmod(dir.Path().c_str(), 0777);
        const QString path = Q(dir.File("s.socket"));
        TInstanceServer server;
        QVERIFY(server.Listen(path));
        ::chmod(dir.File("s.socket").c_str(), 0777);
        std::vector<TJobReport> taken;
        connect(&server, &TInstanceServer::reportReceived, this,
                [&taken](const TJobReport& r, QLocalSocket*) { taken.push_back(r); });
        const std::string good = "BMR1 1 downloading 10 100 5 3 " + std::to_string(::getpid()) + " x\n";

        auto sendAndWaitForDrop = [&](const std::string& bytes) {
            QLocalSocket socket;
            socket.connectToServer(path);
            if (!socket.waitForConnected(2000))
                return false;
            socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
            socket.flush();
            return QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 5000);
        };
        QVERIFY(sendAndWaitForDrop("BMR1 1 downloading ten 100 5 3 1 x\n" + good));
        QVERIFY(sendAndWaitForDrop("BMR1 " + std::string(ReportLineMax * 2, '7')));
        QVERIFY(sendAndWaitForDrop("BMR1 1 downloading 10 100 5 3 1 x y\n" + good));
        QVERIFY(taken.empty());

        // A well-formed report is taken; many of them in a row only a few a second.
        {
            QLocalSocket socket;
            socket.connectToServer(path);
            QVERIFY(socket.waitForConnected(2000));
            for (int i = 0; i < 50; ++i)
                socket.write(good.data(), static_cast<qint64>(good.size()));
            const std::string done = "BMR1 1 done 100 100 0 - " + std::to_string(::getpid()) + " x\n";
            socket.write(done.data(), static_cast<qint64>(done.size()));
            socket.flush();
            // A change of state always goes through; the same state only a few times a second.
            QVERIFY(QTest::qWaitFor([&] { return !taken.empty() && taken.back().State == TJobState::Done; }, 5000));
            QVERIFY2(taken.size() <= 3, qPrintable(QString::number(taken.size())));
            QCOMPARE(taken[0].Done, 10);
        }
        taken.clear();

        // Another process of the same user that names this one's pid (the row's
        // process, as far as it knows) is not believed: the sender is the one
        // the connection comes from.
        const QByteArray socketName = path.toLocal8Bit();
        const auto sendFromChild = [&](const std::string& lines, uid_t uid) {
            const pid_t child = ::fork();
            if (child == 0) {
                if (uid != ::geteuid() && (::setgid(uid) != 0 || ::setuid(uid) != 0))
                    ::_exit(3);
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address {};
                address.sun_family = AF_UNIX;
                std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketName.constData());
                if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                    ::_exit(4);
                // The program may drop the connection before the lines are written.
                const bool sent = ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(lines.size());
                char c = 0;
                const bool dropped = ::read(fd, &c, 1) == 0;  // the program drops the connection
                (void)dropped;
                ::_exit(sent ? 0 : 5);
            }
            return child;
        };
        {
            const int connections = server.Connections();
            const pid_t child = sendFromChild(good, ::geteuid());
            QVERIFY(QTest::qWaitFor([&] { return server.Connections() > connections; }, 5000));
            int status = 0;
            // Believed, it would be kept listening: then it is ended here.
            const bool dropped = QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5000);
            if (!dropped) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
            }
            QVERIFY(taken.empty());
            QVERIFY(dropped);
            QVERIFY(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 5));
            QCoreApplication::processEvents();
            QVERIFY(taken.empty());
        }

        if (::geteuid() != 0)
            QSKIP("a process of another user needs root to be made");
        const int connections = server.Connections();
        const pid_t child = sendFromChild(good + good, 65534);
        QVERIFY(QTest::qWaitFor([&] { return server.Connections() > connections; }, 5000));
        int status = 0;
        QVERIFY(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5000));
        // It connected; whether its lines went out before it was dropped is the program's pace.
        QVERIFY(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 5));
        QCoreApplication::processEvents();
        QVERIFY(taken.empty());
    }

private:
    std::unique_ptr<TempDir> home_;
};

QTEST_MAIN(TDownloadListTest)
#include "DownloadListTest.moc"
