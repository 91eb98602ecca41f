// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GetMain.h"

#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ConRun.h"
#include "convert/Conversion.h"
#include "convert/EncoderProfiles.h"
#include "system/ZQ_Processes.h"
#include "download/ConversionStep.h"
#include "download/GetMainTexts.h"
#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "ui/DesktopNotify.h"
#include "ui/JobReporter.h"
#include "ui/Main.h"
#include "ui/MessageBoxes.h"
#include "ui/QtLanguage.h"
#include "ui/StatusLabel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {
QColor FromBgr(unsigned bgr)
{
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF), static_cast<int>((bgr >> 16) & 0xFF));
}

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// Removes leftovers of the process when the window goes while a transfer runs.
constexpr int CloseWaitMs = 3000;
} // namespace

TFormGetMain::TFormGetMain(const TDownloadJob& job, QWidget* parent) : QWidget(parent), job_(job), ownFile_(job.OutputId)
{
    pnTop = new QFrame(this);
    pnTop->setAutoFillBackground(true);
    lblUrl = new QLabel(pnTop);
    lblUrl->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edPageUrl = new QLineEdit(pnTop);
    edPageUrl->setReadOnly(true);
    lblFile = new QLabel(pnTop);
    lblFile->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edFileName = new QLineEdit(pnTop);
    edFileName->setReadOnly(true);

    Panel1 = new QFrame(this);
    Panel1->setAutoFillBackground(true);
    QPalette panelPalette = Panel1->palette();
    panelPalette.setColor(QPalette::Window, panelPalette.color(QPalette::Base));
    Panel1->setPalette(panelPalette);
    lblInfoSize = new QLabel(Panel1);
    lblInfoSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblSize = new QLabel(Panel1);
    lblSpeed = new QLabel(Panel1);
    lblSpeed->setObjectName("lblSpeed");
    lblSpeed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblInfoProgress = new QLabel(Panel1);
    lblInfoProgress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblProgress = new TStatusLabel(Panel1);
    QFont bold = lblProgress->font();
    bold.setBold(true);
    lblProgress->setFont(bold);
    pb = new QProgressBar(Panel1);
    pb->setTextVisible(false);

    chAutoClose = new QCheckBox(this);
    btnAbort = new QPushButton(this);
    btnRetry = new QPushButton(this);
    btnRetry->hide();
    connect(btnRetry, &QPushButton::clicked, this, &TFormGetMain::btnRetryClick);
    actAbort = new QAction(this);
    addAction(actAbort);
    connect(btnAbort, &QPushButton::clicked, actAbort, &QAction::trigger);
    connect(actAbort, &QAction::triggered, this, &TFormGetMain::actAbortExecute);
    connect(chAutoClose, &QCheckBox::clicked, this, &TFormGetMain::chAutoCloseClick);

    tmConvert = new QTimer(this);
    tmConvert->setInterval(500);
    connect(tmConvert, &QTimer::timeout, this, &TFormGetMain::tmConvertTimer);
    tmClose = new QTimer(this);
    tmClose->setInterval(1500);
    connect(tmClose, &QTimer::timeout, this, &TFormGetMain::tmCloseTimer);

    FormCreate();
}

TFormGetMain::~TFormGetMain()
{
    if (CurrentDownThread && CurrentDownThread->isRunning()) {
        // The thread uses the window to its last step: it is stopped and waited
        // for. It may be waiting for the window itself (a call it makes on the
        // window's thread), so the window's events run meanwhile.
        closing_ = true;
        StopTransfer = true;
        while (CurrentDownThread && !CurrentDownThread->wait(20))
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

const TGetMainTexts& TFormGetMain::Texts() const
{
    return GetMainTexts(AppSettings.LangPolish);
}

void TFormGetMain::FormCreate()
{
    setWindowIcon(ApplicationIcon());
    ConsoleLines.clear();
    DefaultVideoBitrate = "280k";

    // The window may be widened or narrowed, but not made taller or shorter.
    resize(DesignWidth, DesignHeight);
    setMinimumHeight(DesignHeight);
    setMaximumHeight(DesignHeight);

    Downloading = false;
    edFileName->setText(Q(job_.OutputFile));
    LocalSource = FileExists(job_.Source);
    SetPanelColor(DownloadColorBgr);
    edPageUrl->setText(Q(job_.Source));
    lblSize->clear();
    lblProgress->clear();
    BytesDone = 0;

    ConvertRequested = JobConverts(job_);
    Converting = false;

    ApplyFirstRunLanguage();
    SetLang();
    QCoreApplication::processEvents();

    SetAppTitle(QString::fromUtf8(Texts().DownloadWord) + "... " + Q(ExtractFileName(job_.OutputFile)));
    chAutoClose->setChecked(AppSettings.AutoClose);
    SetPbColor(0);
    if (FileExists(AppSettings.ProfilesFile))
        DefaultVideoBitrate = ReadDefaultVideoBitrate(AppSettings.ProfilesFile);
    LayOut();
}

void TFormGetMain::SetLang()
{
    UseQtLanguage(AppSettings.LangPolish);
    const TGetMainTexts& t = Texts();
    lblFile->setText(QString::fromUtf8(t.FileLabel));
    lblInfoSize->setText(QString::fromUtf8(t.SizeLabel));
    lblInfoProgress->setText(QString::fromUtf8(t.ProgressLabel));
    chAutoClose->setText(QString::fromUtf8(t.AutoClose));
    SetAbortCaption(QString::fromUtf8(t.Abort));
    btnRetry->setText(QString::fromUtf8(t.Retry));
    lblUrl->setText(QString::fromUtf8(t.UrlLabel));
    SetCaption(QString::fromUtf8(LocalSource ? t.ConvertWord : t.DownloadWord) + "...");
    setMinimumWidth(TextsWidth());
}

int TFormGetMain::TextsWidth() const
{
    // The size line and the speed share a row: the widest of each, side by
    // side. An aborted job's words stay whole on the progress line, with some
    // of the path after them. The bottom row holds Auto close, Retry and Abort.
    const TGetMainTexts& t = Texts();
    const bool polish = AppSettings.LangPolish;
    const QFontMetrics plain(lblSize->font());
    const QFontMetrics bold(lblProgress->font());
    constexpr std::int64_t widestSize = 1073741823;  // "1073741823 (1024.00 MB)"
    const int sizeRow = plain.horizontalAdvance(Q(SizeLineText(widestSize))) + plain.horizontalAdvance("    ") +
                        plain.horizontalAdvance(Q(TransferSpeedText(double(widestSize), 359999, polish, true)));
    const int aborted = bold.horizontalAdvance(QString::fromUtf8(t.Aborted) + " - " + QString::fromUtf8(t.PartialKept)) +
                        16 * bold.averageCharWidth();
    const int lines = LineLeft + std::max(sizeRow, aborted) + (DesignWidth - LineLeft - LineWidth);
    const int bottom = AutoCloseLeft + AutoCloseWidth() + 6 + RetryWidth() + 6 + (DesignWidth - AbortLeft);
    return std::max({MinimumWidth, lines, bottom});
}

int TFormGetMain::AutoCloseWidth() const
{
    return std::max(169, chAutoClose->sizeHint().width());
}

int TFormGetMain::RetryWidth() const
{
    return std::max(75, btnRetry->sizeHint().width());
}

void TFormGetMain::SetAbortCaption(const QString& text)
{
    actAbort->setText(text);
    actAbort->setToolTip(text);
    btnAbort->setText(text);
}

void TFormGetMain::SetPbColor(unsigned bgr)
{
    QPalette palette = pb->palette();
    palette.setColor(QPalette::Highlight, FromBgr(bgr));
    pb->setPalette(palette);
}

void TFormGetMain::SetPanelColor(unsigned bgr)
{
    QPalette palette = pnTop->palette();
    palette.setColor(QPalette::Window, FromBgr(bgr));
    pnTop->setPalette(palette);
}

void TFormGetMain::SetCaption(const QString& text)
{
    caption_ = text;
    setWindowTitle(text);
    Echo(text, false);
}

void TFormGetMain::AttachToList(std::uint64_t id, bool showWindow, bool resume, const QString& socketPath)
{
    delete reporter_;
    reporter_ = new TJobReporter(id, socketPath, this);
    listHidden_ = !showWindow;
    listQuiet_ = !showWindow;
    resumeNext_ = resume;
    connect(reporter_, &TJobReporter::showRequested, this, [this] {
        listHidden_ = false;
        showNormal();
        raise();
        activateWindow();
    });
    connect(reporter_, &TJobReporter::abortRequested, this, [this] {
        if (!Converting && !Downloading)
            return;
        quietAbort_ = true;
        actAbortExecute();
    });
    ListReport(TJobState::Queued);
}

void TFormGetMain::ListReport(TJobState state)
{
    if (!reporter_)
        return;
    // Once the download has ended well, its file on disk is what the list shows.
    const std::int64_t size = fileSize_ >= 0 ? fileSize_ : job_.ExpectedSize > 0 ? job_.ExpectedSize : 0;
    if (state == TJobState::Converting) {
        const std::int64_t input = size > 0 ? size : FileSizeOf(job_.OutputFile);
        reporter_->Report(state, input * convertPercent_ / 100, input, 0, -1, job_.OutputFile);
        return;
    }
    const std::int64_t done = fileSize_ >= 0 ? fileSize_ : BytesDone.load();
    const std::int64_t speed = JobStateWorking(state) ? rate_.BytesPerSecond() : 0;
    const std::int64_t left = JobStateWorking(state) && size > 0 ? rate_.SecondsLeft(size - done) : -1;
    reporter_->Report(state, done, size, speed, left, job_.OutputFile);
}

void TFormGetMain::ListEnded(TJobState state)
{
    if (!reporter_)
        return;
    ListReport(state);
    reporter_->Flush(500);
    // Not shown (or shown and closed again): the list follows the job, and a
    // process nobody looks at does not stay behind.
    if (!listHidden_ || isVisible())
        return;
    // Once the download thread has made its last steps (it may be making them now).
    if (CurrentDownThread && CurrentDownThread->isRunning())
        connect(CurrentDownThread, &QThread::finished, this, [this] { Terminate(); }, Qt::QueuedConnection);
    else
        QTimer::singleShot(0, this, [this] { Terminate(); });
}

void TFormGetMain::DownloadEnded(bool ok, const QString& state)
{
    // A conversion follows: its end is the one to tell.
    if (ok && ConvertRequested)
        return;
    ListEnded(ok ? TJobState::Done : TJobState::Failed);
    WorkEnded(ok ? TWorkEnd::Downloaded : TWorkEnd::DownloadFailed, job_.OutputFile, ok ? QString() : state,
              ok ? fileSize_ : -1);
}

void TFormGetMain::WorkEnded(TWorkEnd end, const std::string& file, const QString& reason, std::int64_t size)
{
    // A job of the list started without its window is told by the list.
    if (!AppSettings.Notifications || isActiveWindow() || (reporter_ && listQuiet_))
        return;
    const TWorkEndNotice notice = WorkEndNotice(end, file, reason.toStdString(), AppSettings.LangPolish, size);
    const QString summary = Q(PrintableText(notice.Summary));
    const QString body = Q(PrintableText(notice.Body, true));
    if (OnNotify)
        OnNotify(summary, body);
    else
        DesktopNotify(summary, body);
}

void TFormGetMain::SetAppTitle(const QString& text)
{
    appTitle_ = text;
    setWindowTitle(text);
    Echo(text, Downloading);
}

// With BRIMTALE_ECHO set, the window's state also goes to standard output, so a
// run without a display can be followed in a terminal.
void TFormGetMain::Echo(const QString& text, bool throttle)
{
    static const bool echo = std::getenv("BRIMTALE_ECHO") != nullptr;
    if (!echo || text == lastEchoText_)
        return;
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (throttle && now - lastEcho_ < 250)
        return;
    lastEcho_ = now;
    lastEchoText_ = text;
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

void TFormGetMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Begin();
}

void TFormGetMain::Begin()
{
    if (!activated_) {
        activated_ = true;
        QTimer::singleShot(0, this, &TFormGetMain::FormActivate);
    }
}

void TFormGetMain::FormActivate()
{
    repaint();
    if (IsJobValid(job_))
        GetFile();
    else
        close();
}

void TFormGetMain::GetFile()
{
    if (LocalSource && !ConvertRequested) {
        ShowNothingToConvert();
    } else if (LocalSource) {
        tmConvert->start();
        SetCaption(QString::fromUtf8(Texts().ConvertWord) + "...");
    } else if (!Downloading) {
        SetCaption(QString::fromUtf8(Texts().DownloadWord) + "...");
        CurrentDownThread = NewDownThread(this);
        connect(CurrentDownThread, &QObject::destroyed, this, [this] { CurrentDownThread = nullptr; });
        connect(CurrentDownThread, &QThread::finished, this, [this] {
            if (closeWhenStopped_)
                close();
        });
        Downloading = true;
        CurrentDownThread->start();
        ListReport(TJobState::Downloading);
    }
}

void TFormGetMain::ShowDownloadProgress()
{
    progressPending_ = false;
    const std::int64_t done = BytesDone;
    const std::string name = ExtractFileName(job_.OutputFile);
    const std::string doneText = SizeText(static_cast<std::uint64_t>(done));
    std::string title;
    std::string label;
    if (job_.ExpectedSize > 0) {
        const int percent = downloadPercent_.Next(done, job_.ExpectedSize);
        const std::string pct = std::to_string(percent) + " %";
        title = pct + " - " + doneText + " / " + SizeText(static_cast<std::uint64_t>(job_.ExpectedSize)) + " - " + name;
        label = pct + " - " + doneText;
    } else {
        title = doneText + " - " + name;
        label = doneText;
    }
    lblProgress->setText(Q(label));
    SetAppTitle(Q(title));
    // The speed, about twice a second.
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    rate_.Sample(done, now);
    if (now - lastSpeedShown_ >= 500) {
        lastSpeedShown_ = now;
        const std::int64_t left = job_.ExpectedSize > 0 ? rate_.SecondsLeft(job_.ExpectedSize - done) : -1;
        const QString speed =
            Q(TransferSpeedText(rate_.BytesPerSecond(), left, AppSettings.LangPolish, job_.ExpectedSize > 0));
        lblSpeed->setText(speed);
        if (rate_.BytesPerSecond() > 0)
            Echo(speed, false);
    }
    if (!pb->isHidden()) {
        // The bar follows the percentage: it never goes back either.
        const std::int64_t shown = job_.ExpectedSize > 0 ? std::max<std::int64_t>(done, std::int64_t{job_.ExpectedSize} *
                                                                                            std::max(0, downloadPercent_.Next(done, job_.ExpectedSize)) / 100)
                                                          : done;
        pb->setValue(static_cast<int>(std::min<std::int64_t>(shown, pb->maximum())));
    }
    if (Downloading)
        ListReport(TJobState::Downloading);
}

void TFormGetMain::SetExpectedSize(std::int64_t size)
{
    // The bar counts in bytes up to 2 GiB; beyond that the size is shown without it.
    job_.ExpectedSize = size > 0 && size <= INT32_MAX ? static_cast<std::int32_t>(size) : 0;
    pb->setMaximum(job_.ExpectedSize > 0 ? job_.ExpectedSize : 0);
    pb->setVisible(job_.ExpectedSize > 0);
    fileSize_ = -1;
    lblSize->setText(Q(SizeLineText(size > 0 ? size : -1)));
}

void TFormGetMain::ShowFileSize(std::int64_t size)
{
    BytesDone = size;
    if (job_.ExpectedSize > 0 && size > 0 && size <= INT32_MAX) {
        // The bar and the percentage count to the file's size.
        job_.ExpectedSize = static_cast<std::int32_t>(size);
        pb->setMaximum(job_.ExpectedSize);
    }
    ShowDownloadProgress();
    fileSize_ = size;
    lblSize->setText(Q(SizeLineText(size)));
}

void TFormGetMain::ShowMerging()
{
    const QString state = QString::fromUtf8(Texts().Merging) + "...";
    SetCaption(state);
    SetAppTitle(state + " - " + Q(ExtractFileName(job_.OutputFile)));
    lblProgress->setText(state);
    lblSpeed->clear();
    ListReport(TJobState::Merging);
}

void TFormGetMain::EngineFileMoved(const std::string& path)
{
    job_.OutputFile = path;
    edFileName->setText(Q(path));
}

void TFormGetMain::CheckGet()
{
    // Only an empty file of this job's own goes; a link at the name is left alone.
    RemoveIfEmptyFile(job_.OutputFile);
}

void TFormGetMain::actAbortExecute()
{
    if (Converting) {
        Aborted = true;
        EndEncoder();
    } else if (Downloading) {
        Aborted = true;
        StopTransfer = true;
    } else {
        Terminate();
        close();
    }
}

void TFormGetMain::btnRetryClick()
{
    if (Downloading)
        return;
    if (CurrentDownThread) {
        // The last try's worker is on its last steps: the retry follows it.
        connect(CurrentDownThread, &QObject::destroyed, this, &TFormGetMain::btnRetryClick,
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
        return;
    }
    btnRetry->hide();
    tmClose->stop();
    resumeNext_ = true;
    GetFile();
}

void TFormGetMain::chAutoCloseClick()
{
    AppSettings.AutoClose = chAutoClose->isChecked();
}

void TFormGetMain::tmConvertTimer()
{
    tmConvert->stop();
    SetPanelColor(ConvertColorBgr);
    ConvertFile();
}

void TFormGetMain::tmCloseTimer()
{
    if (Converting)
        return;
    AppSettings.AutoClose = chAutoClose->isChecked();
    SaveSettings(SettingsFile, true);
    Terminate();
}

void TFormGetMain::Terminate()
{
    if (OnTerminate)
        OnTerminate();
    else
        QCoreApplication::quit();
}

void TFormGetMain::FormClose()
{
    AppSettings.AutoClose = chAutoClose->isChecked();
    SaveSettings(SettingsFile, true);
}

void TFormGetMain::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    const bool downloading = CurrentDownThread && CurrentDownThread->isRunning();
    // A job of the list goes on without its window: closing only hides it
    // (Abort stops it).
    if (reporter_ && !closeWhenStopped_ && (Converting || (downloading && Downloading && !Aborted))) {
        event->ignore();
        listHidden_ = true;
        hide();
        return;
    }
    if (!closeWhenStopped_ && (Converting || (downloading && Downloading && !Aborted))) {
        // Closing while work runs is an Abort: the same question about the
        // partial file, then the window goes.
        closeWhenStopped_ = true;
        event->ignore();
        actAbortExecute();
        return;
    }
    FormClose();
    event->accept();
    if (CurrentDownThread && CurrentDownThread->isRunning()) {
        // The transfer stops at once; the partial file stays.
        closing_ = true;
        StopTransfer = true;
        QElapsedTimer waited;
        waited.start();
        while (CurrentDownThread && !CurrentDownThread->wait(20) && waited.elapsed() < CloseWaitMs)
            QCoreApplication::processEvents();
        if (CurrentDownThread && CurrentDownThread->isRunning() && !OnTerminate) {
            // A read that is stuck on a silent server must not keep the process alive.
            std::fflush(nullptr);
            std::_Exit(0);
        }
    }
}

void TFormGetMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
}

void TFormGetMain::LayOut()
{
    const int grow = width() - DesignWidth;
    pnTop->setGeometry(0, 0, width(), 69);
    lblUrl->setGeometry(0, 10, 85, 21);
    edPageUrl->setGeometry(91, 10, 366 + grow, 21);
    lblFile->setGeometry(0, 37, 85, 21);
    edFileName->setGeometry(91, 37, 366 + grow, 21);

    Panel1->setGeometry(0, 69, width(), 76);
    lblInfoSize->setGeometry(0, 8, 79, 18);
    lblSize->setGeometry(LineLeft, 8, LineWidth + grow, 18);
    lblSpeed->setGeometry(LineLeft, 8, LineWidth + grow, 18);
    lblInfoProgress->setGeometry(0, 27, 79, 18);
    lblProgress->setGeometry(LineLeft, 27, LineWidth + grow, 18);
    pb->setGeometry(18, 50, 434 + grow, 14);

    const int bottom = height() - DesignHeight;
    chAutoClose->setGeometry(AutoCloseLeft, 157 + bottom, AutoCloseWidth(), 20);
    btnAbort->setGeometry(AbortLeft + grow, 151 + bottom, 75, 25);
    const int retryWidth = RetryWidth();
    btnRetry->setGeometry(AbortLeft + grow - 6 - retryWidth, 151 + bottom, retryWidth, 25);
}

bool TFormGetMain::TerminateApp(const std::string& exePath)
{
    return ::TerminateApp(exePath);
}

void TFormGetMain::conev(int pid, const TConversionProgress& progress, int percent)
{
    encoderPid_ = pid;
    // Events run after a line, but not after each of thousands of lines in a
    // row: the runner's tick lets them run in between as well.
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastEvents_ >= 15) {
        lastEvents_ = now;
        QCoreApplication::processEvents();
    }
    if (Aborted)
        EndEncoder();
    // A warning line changes nothing that is shown.
    if (shownFrames_ == progress.Frames && shownPercent_ == percent)
        return;
    shownFrames_ = progress.Frames;
    shownPercent_ = percent;
    const TGetMainTexts& t = Texts();
    const QString word = QString::fromUtf8(t.ConvertWord);
    pb->setValue(percent);
    lblProgress->setText(word + "  ::::  " + QString::fromUtf8(t.FrameWord) + QString::number(progress.Frames) +
                         " / ~" + QString::number(MediaInfo.FrameCount) + "  ::::  " +
                         QString::fromUtf8(t.CompleteWord) + QString::number(percent) + " %");
    lblProgress->repaint();
    SetAppTitle(word + "... " + QString::number(percent) + " %");
    convertPercent_ = percent;
    ListReport(TJobState::Converting);
}

void TFormGetMain::ConversionTick(int pid)
{
    encoderPid_ = pid;
    lastEvents_ = QDateTime::currentMSecsSinceEpoch();
    QCoreApplication::processEvents();
    if (Aborted)
        EndEncoder();
}

void TFormGetMain::EndEncoder()
{
    if (encoderPid_ > 0)
        EndProcessGroup(encoderPid_);
    TerminateApp(GetFfmpegPath());
}

void TFormGetMain::ShowNothingToConvert()
{
    const TGetMainTexts& t = Texts();
    const QString status = QString::fromUtf8(t.NoConversion);
    SetCaption(status);
    SetAppTitle(status);
    lblProgress->setText(status);
    SetAbortCaption(QString::fromUtf8(t.Close));
    ListEnded(TJobState::Done);
    if (chAutoClose->isChecked())
        tmClose->start();
}

void TFormGetMain::ConvertFile()
{
    const TGetMainTexts& t = Texts();
    struct ConvertingFlag {
        bool& flag;
        explicit ConvertingFlag(bool& f) : flag(f) { flag = true; }
        ~ConvertingFlag() { flag = false; }
    } converting(Converting);

    pb->setValue(0);
    SetPbColor(0x000080);
    SetPanelColor(ConvertColorBgr);
    if (!JobConverts(job_)) {
        ShowNothingToConvert();
        return;
    }
    // The conversion can be stopped like the download.
    SetAbortCaption(QString::fromUtf8(t.Abort));
    Aborted = false;
    convertPercent_ = 0;
    ListReport(TJobState::Converting);

    const TConversionNames names = ConversionNames(job_, LocalSource);
    lblSize->setText(Q(SizeText(static_cast<std::uint64_t>(FileSizeOf(names.Input)))));
    lblSize->hide();
    lblInfoSize->hide();
    lblSpeed->clear();
    lblInfoProgress->setText(QString::fromUtf8(t.StatusLabel));
    repaint();
    QCoreApplication::processEvents();

    edPageUrl->setText(Q(names.Input));
    MediaInfo = TMediaInfo{};
    ConsoleLines.clear();
    shownFrames_ = -1;
    shownPercent_ = -1;
    struct ChildGone {
        int& pid;
        ~ChildGone() { pid = 0; }
    } childGone{encoderPid_};

    TConversionHooks hooks;
    hooks.OnTick = [this](int pid) { ConversionTick(pid); };
    hooks.ShouldStop = [this] { return Aborted.load(); };
    hooks.Lines = &ConsoleLines;
    hooks.OnProbed = [this, &t](const TMediaInfo& info, const TConversionTarget& target) {
        MediaInfo = info;
        encoderPid_ = 0;
        edFileName->setText(Q(target.Output));
        // A short pause lets the window settle before the encoder takes the line.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 150)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        SetCaption(QString::fromUtf8(t.ConvertWord) + "...");
        pb->setValue(0);
        pb->setMaximum(100);
    };
    hooks.OnProgress = [this](int pid, const TConversionProgress& progress, int percent) {
        conev(pid, progress, percent);
    };
    const TConversionResult result =
        RunConversion(job_, LocalSource, GetFfmpegPath(), DefaultVideoBitrate, hooks, AppSettings.LangPolish);

    QString status;
    switch (result.End) {
    case TConversionEnd::Converted:
        pb->setValue(100);
        status = QString("OK - ") + QString::fromUtf8(t.FileConverted);
        edFileName->setText(Q(result.File));
        break;
    case TConversionEnd::Stopped:
        status = QString::fromUtf8(t.Aborted);
        break;
    case TConversionEnd::Failed:
        status = QString::fromUtf8(t.NoticeConversionFailed) + ": " + Q(result.Reason);
        break;
    }
    SetAppTitle(status);
    lblProgress->setText(status);
    SetCaption(status);
    SetAbortCaption(QString::fromUtf8(t.Close));
    Converting = false;
    // A window of the list that is not shown ends with its job: no box waits there.
    const bool endsWithJob = reporter_ && listHidden_ && !isVisible();
    ListEnded(result.End == TConversionEnd::Converted ? TJobState::Done
              : result.End == TConversionEnd::Stopped ? TJobState::Aborted
                                                      : TJobState::Failed);

    if (result.End == TConversionEnd::Failed) {
        // Told before the encoder's output is shown: that box waits for the user.
        WorkEnded(TWorkEnd::ConversionFailed, result.Input, Q(result.Reason));
        if (result.EncoderFailed) {
            QString text;
            for (const std::string& line : ConsoleLines)
                text += Q(line) + "\r\n";
            if (!closeWhenStopped_ && !endsWithJob)
                ShowMessage(this, appTitle_, text, TMsgKind::Error);
            WriteErrorLog(ErrorLogFile(), ConsoleLines);
        } else if (!closeWhenStopped_ && !endsWithJob) {
            ShowMessage(this, appTitle_, Q(result.Reason), TMsgKind::Error);
        }
    } else if (result.End == TConversionEnd::Converted) {
        WorkEnded(TWorkEnd::Converted, result.File, QString());
    }

    if (closeWhenStopped_)
        QTimer::singleShot(0, this, &QWidget::close);
    else if (result.End == TConversionEnd::Converted && chAutoClose->isChecked())
        tmClose->start();
}
