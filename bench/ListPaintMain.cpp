// SPDX-License-Identifier: GPL-3.0-or-later
// bench_list_paint: the main window while 1000 jobs are added to its list, 50
// at a time as the event loop turns. Prints how long the list took to paint
// after the first batch, after the others (the longest and the median), and
// the time to add them all.
// Offscreen; nothing is downloaded (the "running" jobs are this process).
//
//   bench_list_paint [JOBS]

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "ui/DownloadList.h"
#include "ui/Main.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {
struct TPaintClock : QObject {
    qint64 painted = -1;
    QElapsedTimer* clock = nullptr;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            painted = clock->nsecsElapsed();
        return false;
    }
};
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int jobs = argc > 1 ? std::max(50, std::atoi(argv[1])) : 1000;
    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    InitAppDirsFor(temp.path().toStdString());
    SettingsFile = DataDir + "/bmt.ini";
    InitSettings();
    ProgramExecutable.clear();

    TFormMain w;
    w.Queue()->StartProcess = [](const std::vector<std::string>&) { return std::int64_t(::getpid()); };
    w.show();
    QElapsedTimer clock;
    clock.start();
    TPaintClock paint;
    paint.clock = &clock;
    QTableView* view = w.findChild<QTableView*>("lvDownloads");
    std::vector<double> waits;
    const qint64 begin = clock.nsecsElapsed();
    for (int added = 0; added < jobs;) {
        for (int i = 0; i < 50 && added < jobs; ++i, ++added) {
            TDownloadJob job;
            job.Switch = "-get";
            job.Source = job.MediaUrl = "http://127.0.0.1:9/v" + std::to_string(added);
            job.OutputFile = temp.path().toStdString() + "/v" + std::to_string(added) + ".mp4";
            job.ExpectedSize = 1000;
            job.EncoderParams = job.EncoderExt = job.TargetExt = "-";
            w.Queue()->AddJob(job, "Video " + std::to_string(added));
        }
        if (!view)
            return 1;
        view->viewport()->installEventFilter(&paint);
        view->scrollToBottom();
        paint.painted = -1;
        const qint64 asked = clock.nsecsElapsed();
        view->viewport()->update();
        while (paint.painted < 0 && clock.nsecsElapsed() - asked < 5'000'000'000LL)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        waits.push_back((paint.painted < 0 ? 5e9 : double(paint.painted - asked)) / 1e6);
    }
    const double total = double(clock.nsecsElapsed() - begin) / 1e6;
    std::vector<double> later(waits.begin() + 1, waits.end());
    std::sort(later.begin(), later.end());
    std::printf("jobs %d in %zu batches: the list painted %.2f ms after the first batch (it appears, the window grows), "
                "after the others at most %.2f ms (median %.2f ms); all added and painted in %.0f ms\n",
                jobs, waits.size(), waits.front(), later.empty() ? 0.0 : later.back(),
                later.empty() ? 0.0 : later[later.size() / 2], total);
    w.Queue()->SaveNow();
    return 0;
}
