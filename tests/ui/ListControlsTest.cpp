// SPDX-License-Identifier: GPL-3.0-or-later
// The controls of the main window's list as a user works them: several rows
// selected at once, keys, the place of a row in the queue (buttons, keys,
// dragging), pausing, clearing, the filter, sorting, the details of a failed
// row, the status line, closing with work left and the one notification of
// jobs that came as many. The jobs' processes are stand-ins ("sleep") that the
// test ends itself.

#include "app/DownloadListTexts.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "download/JobList.h"
#include "support/TempDir.h"
#include "ui/DownloadList.h"
#include "ui/Main.h"
#include "ui/MessageBoxes.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

TDownloadJob ListJob(const std::string& output)
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = job.MediaUrl = "http://127.0.0.1:9/" + ExtractFileName(output);
    job.OutputFile = output;
    job.ExpectedSize = 1000;
    job.EncoderParams = job.EncoderExt = job.TargetExt = "-";
    return job;
}

// A process that stands in for a job's: it runs until it is ended.
pid_t Sleeper()
{
    pid_t pid = 0;
    char sleep[] = "sleep";
    char seconds[] = "120";
    char* argv[] = {sleep, seconds, nullptr};
    return ::posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) == 0 ? pid : 0;
}

struct TProgram {
    TempDir Dir;
    std::vector<pid_t> Pids;  // the stand-ins started, ended at the end
    std::vector<std::vector<std::string>> Args;

    explicit TProgram(const std::string& ini)
    {
        Dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n" + ini);
        InitAppDirsFor(Dir.Path());
        SettingsFile = DataDir + "/bmt.ini";
        InitSettings();
        LoadSettings(SettingsFile);
        ProgramExecutable = Dir.File("brimtale");
    }
    ~TProgram()
    {
        for (const pid_t pid : Pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    void Attach(TFormMain& w)
    {
        w.Queue()->StartProcess = [this](const std::vector<std::string>& args) -> std::int64_t {
            Args.push_back(args);
            Pids.push_back(Sleeper());
            return Pids.back();
        };
    }
};

void Report(TFormMain& w, std::size_t row, TJobState state, std::int64_t done = 0)
{
    const TJobRow& r = w.Queue()->List().Rows()[row];
    TJobReport report;
    report.Id = r.Id;
    report.State = state;
    report.Pid = r.Pid;
    report.Done = done;
    report.Total = 1000;
    report.Speed = JobStateWorking(state) ? 100 : 0;
    w.Queue()->TakeReport(report, nullptr);
}

std::string Titles(const TFormMain& w)
{
    std::string titles;
    for (const TJobRow& row : w.Queue()->List().Rows())
        titles += row.Title.substr(0, 1);
    return titles;
}

void Select(TFormMain& w, const std::vector<int>& listRows)
{
    QTableView* view = w.pnDownloads->View();
    view->clearSelection();
    for (const int row : listRows)
        view->selectionModel()->select(w.pnDownloads->ViewIndex(row),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->setCurrentIndex(w.pnDownloads->ViewIndex(listRows.front()), QItemSelectionModel::NoUpdate);
    view->setFocus();
}

void Click(TFormMain& w, const char* button)
{
    QToolButton* b = w.pnDownloads->findChild<QToolButton*>(button);
    QVERIFY2(b, button);
    QTest::mouseClick(b, Qt::LeftButton);
}

} // namespace

class TListControlsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        home_ = std::make_unique<TempDir>();
        qputenv("HOME", QByteArray::fromStdString(home_->Path()));
        SystemTrayAvailable = [] { return false; };
    }

    // Rows move in the queue by buttons, keys and dragging; several
    // selected rows act together; Space pauses and resumes; Delete removes;
    // Enter opens a finished file; "Clear finished" clears; the filter and the
    // sorting only change the view.
    void rowsAreMovedPausedRemovedAndFound()
    {
        TProgram program("MaxDownloads=1\r\n");
        TFormMain w;
        program.Attach(w);
        std::vector<std::string> opened;
        w.Queue()->OpenPath = [&opened](const std::string& path) { opened.push_back(path); };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const char* name : {"a", "b", "c", "d", "e", "f"})
            QVERIFY(w.GetFile(ListJob(program.Dir.Write(std::string(name) + ".mp4", ""))));
        QCOMPARE(w.Queue()->List().RunningCount(), 1);  // a runs, the rest wait
        QTableView* view = w.pnDownloads->View();

        // e and f up with the keys, then d to the top with its button.
        Select(w, {4, 5});
        QTest::keyClick(view, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(Q(Titles(w)), QString("abcefd"));
        Select(w, {5});
        Click(w, "btnMoveToTop");
        QCOMPARE(Q(Titles(w)), QString("dabcef"));
        Click(w, "btnMoveDown");
        QCOMPARE(Q(Titles(w)), QString("adbcef"));
        // Dragged: f dropped on b goes before it (the view's model is the proxy).
        QSortFilterProxyModel* proxy = w.pnDownloads->Proxy();
        std::unique_ptr<QMimeData> dragged(proxy->mimeData({w.pnDownloads->ViewIndex(5)}));
        proxy->dropMimeData(dragged.get(), Qt::MoveAction, -1, -1, w.pnDownloads->ViewIndex(2));
        QCOMPARE(Q(Titles(w)), QString("adfbce"));
        // The "#" column is the place in the queue.
        QCOMPARE(w.pnDownloads->ViewIndex(2, TJobTableModel::ColPosition).data().toInt(), 3);

        // Space pauses the selected waiting rows, and resumes them in their place.
        Select(w, {1, 2});
        QCOMPARE(w.pnDownloads->actPause->text(), QString("Pause"));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(w.Queue()->List().Rows()[1].State, TJobState::Paused);
        QCOMPARE(w.Queue()->List().Rows()[2].State, TJobState::Paused);
        QCOMPARE(w.pnDownloads->actPause->text(), QString("Resume"));
        // a ends: b, not the paused d, is next.
        Report(w, 0, TJobState::Downloading, 500);
        Report(w, 0, TJobState::Done, 1000);
        ::kill(static_cast<pid_t>(program.Pids[0]), SIGKILL);
        QVERIFY(QTest::qWaitFor([&] { return !w.Queue()->List().Rows()[0].Running; }, 10000));
        QCOMPARE(program.Args.size(), std::size_t(2));
        QCOMPARE(Q(program.Args[1][3]), Q(program.Dir.File("b.mp4")));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(w.Queue()->List().Rows()[1].State, TJobState::Queued);
        QCOMPARE(Q(Titles(w)), QString("adfbce"));

        // Enter opens the finished file.
        Select(w, {0});
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(opened, (std::vector<std::string>{program.Dir.File("a.mp4")}));

        // Delete removes every selected row that does not run; the running b stays.
        Select(w, {2, 3, 4});
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(Q(Titles(w)), QString("adbe"));
        QVERIFY(FileExists(program.Dir.File("c.mp4")));  // a row goes, never its file

        // The filter and the sorting change what the view shows, not the queue.
        Report(w, 2, TJobState::Downloading, 100);
        QTest::keyClicks(w.pnDownloads->edFilter, "e.mp4");
        QCOMPARE(proxy->rowCount(), 1);
        w.pnDownloads->edFilter->clear();
        QCOMPARE(proxy->rowCount(), 4);
        QTest::keyClicks(w.pnDownloads->edFilter, "queued");  // by state, in the window's language
        QCOMPARE(proxy->rowCount(), 2);
        w.pnDownloads->edFilter->clear();
        const int title = TJobTableModel::ColTitle;
        QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(view->horizontalHeader()->sectionViewportPosition(title) + 5, 5));
        QStringList shown;
        for (int row = 0; row < proxy->rowCount(); ++row)
            shown << proxy->index(row, title).data().toString();
        QCOMPARE(shown, (QStringList{"a.mp4", "b.mp4", "d.mp4", "e.mp4"}));
        QCOMPARE(Q(Titles(w)), QString("adbe"));

        // Clear finished takes the finished a only.
        Click(w, "btnClearFinished");
        QCOMPARE(Q(Titles(w)), QString("dbe"));
        QVERIFY(!w.pnDownloads->actClearFinished->isEnabled());
    }

    // A row that failed says why in its tooltip and in the details line; the
    // status line counts the rows and the title shows the whole percentage.
    void detailsStatusAndTitle()
    {
        TProgram program("MaxDownloads=2\r\n");
        TFormMain w;
        program.Attach(w);
        w.show();
        // A file at the job's name that is not the job's own: it fails with a reason.
        TDownloadJob foreign = ListJob(program.Dir.Write("taken.mp4", "not ours"));
        foreign.OutputId = FileIdOf(program.Dir.Write("other.mp4", ""));
        QVERIFY(w.GetFile(foreign));
        QVERIFY(w.GetFile(ListJob(program.Dir.Write("one.mp4", ""))));
        QVERIFY(w.GetFile(ListJob(program.Dir.Write("two.mp4", ""))));
        QCOMPARE(w.Queue()->List().Rows()[0].State, TJobState::Failed);
        Select(w, {0});
        const QString tip = w.pnDownloads->ViewIndex(0).data(Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains("changed outside Brimtale"), qPrintable(tip));
        QVERIFY2(w.pnDownloads->lblDetails->text().contains("changed outside Brimtale"),
                 qPrintable(w.pnDownloads->lblDetails->text()));

        Report(w, 1, TJobState::Downloading, 500);
        Report(w, 2, TJobState::Downloading, 100);
        QVERIFY(QTest::qWaitFor([&] { return w.windowTitle().startsWith("30 % - "); }, 5000));
        QCOMPARE(w.lblStatus->text(), QString::fromUtf8("Downloading: 2 \u00b7 Queued: 0 \u00b7 Done: 0 \u00b7 "
                                                        "Failed: 1 \u00b7 200 B/s"));
        w.cbLanguage->setCurrentIndex(1);
        QVERIFY(w.lblStatus->text().startsWith(QString::fromUtf8("Pobierane: 2")));
        w.cbLanguage->setCurrentIndex(0);
    }

    // Closing with work left asks (no tray) or keeps the program in the tray;
    // Quit from the tray's menu asks too. Nothing waiting goes without a word.
    void closingWithWorkLeftAsksOrKeepsToTheTray()
    {
        TProgram program("MaxDownloads=2\r\n");
        std::vector<QString> asked;
        TMsgAnswer answer = TMsgAnswer::No;
        SetMessageHook([&](QWidget*, const QString&, const QString& text, TMsgKind) {
            asked.push_back(text);
            return answer;
        });
        {
            TFormMain w;
            program.Attach(w);
            bool closed = false;
            connect(&w, &TFormMain::closed, this, [&closed] { closed = true; });
            w.show();
            for (int i = 0; i < 7; ++i)
                QVERIFY(w.GetFile(ListJob(program.Dir.Write("v" + std::to_string(i) + ".mp4", ""))));
            // Keep running: the window stays (minimized, as there is no tray).
            w.close();
            QCOMPARE(asked.size(), std::size_t(1));
            QVERIFY2(asked[0].startsWith("2 downloads are running and 5 are waiting."), qPrintable(asked[0]));
            QVERIFY(!closed);
            QVERIFY(w.isMinimized() || w.windowState() & Qt::WindowMinimized);
            // Quit from the menu asks the same; Quit ends it.
            answer = TMsgAnswer::Yes;
            w.actClose->trigger();
            QCOMPARE(asked.size(), std::size_t(2));
            QVERIFY(closed);
        }
        {
            // With a tray the window goes there, and the program says so.
            SystemTrayAvailable = [] { return true; };
            TFormMain w;
            program.Attach(w);
            w.show();
            QVERIFY(w.GetFile(ListJob(program.Dir.Write("t.mp4", ""))));
            asked.clear();
            w.close();
            QVERIFY(asked.empty());
            QVERIFY(!w.isVisible());
            SystemTrayAvailable = [] { return false; };
        }
        SetMessageHook({});
    }

    // Jobs that came as many: one notification when the last ends, whatever
    // "Show a window for each download" says, and no window of their own.
    void manyJobsGiveOneNotificationAndNoWindows()
    {
        TProgram program("MaxDownloads=3\r\nShowDownloadWindows=1\r\n");
        TFormMain w;
        program.Attach(w);
        std::vector<QString> notices;
        w.OnNotify = [&notices](const QString&, const QString& body) { notices.push_back(body); };
        const std::uint64_t batch = w.Queue()->NewBatch();
        for (int i = 0; i < 3; ++i)
            QVERIFY(w.GetOneOfMany(ListJob(program.Dir.Write("m" + std::to_string(i) + ".mp4", "")), batch));
        QVERIFY(w.GetFile(ListJob(program.Dir.Write("single.mp4", ""))));
        QCOMPARE(program.Args.size(), std::size_t(3));
        for (const auto& args : program.Args)
            QCOMPARE(Q(args[args.size() - 2]), QString("0"));  // no window
        Report(w, 0, TJobState::Done, 1000);
        Report(w, 1, TJobState::Failed, 10);
        Report(w, 2, TJobState::Done, 1000);
        for (std::size_t i = 0; i < 3; ++i)
            ::kill(program.Pids[i], SIGKILL);
        QVERIFY(QTest::qWaitFor([&] { return !notices.empty(); }, 10000));
        QTest::qWait(100);
        QCOMPARE(notices, (std::vector<QString>{"2 downloads done, 1 failed"}));
        // The single job of the dialog opens its window as the option says, and tells of itself.
        QCOMPARE(program.Args.size(), std::size_t(4));
        QCOMPARE(Q(program.Args[3][program.Args[3].size() - 2]), QString("1"));
    }

    // The list fills the window: at 1400 x 900 at least fifteen rows show, and
    // on a 1366 x 768 screen every row button is inside the window.
    void theListFillsTheWindow()
    {
        TProgram program("MaxDownloads=1\r\n");
        TFormMain w;
        program.Attach(w);
        for (int i = 0; i < 30; ++i)
            QVERIFY(w.GetFile(ListJob(program.Dir.Write("r" + std::to_string(i) + ".mp4", ""))));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(1400 - 16, 900 - 48);
        QTest::qWait(50);
        QTableView* view = w.pnDownloads->View();
        // Whole rows, as many as the list has room for.
        const int rows = view->viewport()->height() / view->rowHeight(0);
        QVERIFY2(rows >= 15, qPrintable(QString("%1 rows").arg(rows)));
        for (const bool polish : {false, true}) {
            w.cbLanguage->setCurrentIndex(polish ? 1 : 0);
            QVERIFY2(w.minimumWidth() <= 1366 - 16 && w.minimumHeight() <= 768 - 48,
                     qPrintable(QString("%1 x %2").arg(w.minimumWidth()).arg(w.minimumHeight())));
            w.resize(1366 - 16, 768 - 48);
            QTest::qWait(50);
            for (QToolButton* button : w.pnDownloads->findChildren<QToolButton*>()) {
                const QRect inWindow(button->mapTo(&w, QPoint(0, 0)), button->size());
                QVERIFY2(w.rect().contains(inWindow), qPrintable(button->objectName()));
            }
        }
        w.cbLanguage->setCurrentIndex(0);
        // The size and the columns are kept for the next start.
        w.resize(1000, 700);
        w.pnDownloads->View()->horizontalHeader()->resizeSection(TJobTableModel::ColState, 123);
        SetMessageHook([](QWidget*, const QString&, const QString&, TMsgKind) { return TMsgAnswer::Yes; });
        w.close();
        SetMessageHook({});
        InitSettings();
        LoadSettings(SettingsFile);
        QCOMPARE(AppSettings.MainWidth, 1000);
        QCOMPARE(AppSettings.MainHeight, 700);
        TFormMain again;
        program.Attach(again);
        QCOMPARE(again.pnDownloads->View()->horizontalHeader()->sectionSize(TJobTableModel::ColState), 123);
    }

private:
    std::unique_ptr<TempDir> home_;
};

QTEST_MAIN(TListControlsTest)
#include "ListControlsTest.moc"
