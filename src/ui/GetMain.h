// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window of the download mode: shows what is downloaded where, the size and
// progress, Abort (Close when the work is done) and Auto close; starts the
// download thread when first shown and the conversion after a successful
// download, or at once for a local input file.

#include "app/DownloadJob.h"
#include "convert/Conversion.h"
#include "convert/MediaProbe.h"
#include "download/GetMainTexts.h"
#include "base/TransferRate.h"
#include "ui/StatusLabel.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;
class TDownThread;
class TJobReporter;
struct TGetMainTexts;
enum class TJobState;

class TFormGetMain : public QWidget {
    Q_OBJECT
    friend class TDownThread;

public:
    // Colours as the panel and bar use them (0x00BBGGRR).
    static constexpr unsigned DownloadColorBgr = 0x00D8E7DB;
    static constexpr unsigned ConvertColorBgr = 0x00D7F5FD;
    static constexpr int DesignWidth = 494;
    static constexpr int DesignHeight = 182;
    // Never narrower than this, nor than its texts need in the language.
    static constexpr int MinimumWidth = 300;
    // Where the size, speed and progress lines start, and their width at the
    // designed size; where Auto close and Abort start.
    static constexpr int LineLeft = 91;
    static constexpr int LineWidth = 366;
    static constexpr int AutoCloseLeft = 8;
    static constexpr int AbortLeft = 415;

    explicit TFormGetMain(const TDownloadJob& job = Job, QWidget* parent = nullptr);
    ~TFormGetMain() override;

    // What ends the process (tests replace it).
    std::function<void()> OnTerminate;
    // What shows a desktop notification (tests replace it).
    std::function<void(const QString& summary, const QString& body)> OnNotify;

    // Shared with the download thread.
    std::atomic<bool> Downloading{false};
    std::atomic<bool> Aborted{false};
    std::atomic<std::int64_t> BytesDone{0};
    // Set to stop a transfer at once (Abort, closing), even while nothing arrives.
    std::atomic<bool> StopTransfer{false};
    // Tries after a transfer broke, and the length of a pause unit (the pauses
    // grow: 1, 2, 4, 8, 15 and 30 units).
    static constexpr int RetryTries = TransferRetryTries;
    static inline int RetryPauseMs = 1000;
    QThread* CurrentDownThread = nullptr;
    bool ConvertRequested = false;
    bool LocalSource = false;
    bool Converting = false;
    std::string DefaultVideoBitrate = "280k";
    std::vector<std::string> ConsoleLines;
    TMediaInfo MediaInfo;

    // The window caption and the application title (the taskbar text) are kept
    // apart; the visible title shows whichever was set last.
    QString Caption() const { return caption_; }
    QString AppTitle() const { return appTitle_; }
    const TDownloadJob& JobOf() const { return job_; }

    // The job is a row of the program's list: its state goes there over the
    // socket at socketPath, and the list's commands come from there. Without
    // showWindow the window starts minimized and the process ends with the
    // job unless the user has brought the window up; with resume the transfer
    // continues the file on disk.
    // Starts the job (once): when the window is first shown, or at once for a
    // job of the list that runs without its window.
    void Begin();
    void AttachToList(std::uint64_t id, bool showWindow, bool resume, const QString& socketPath);
    TJobReporter* Reporter() const { return reporter_; }

    void SetLang();
    void SetPbColor(unsigned bgr);
    void GetFile();
    void CheckGet();
    void ConvertFile();
    bool TerminateApp(const std::string& exePath);

    // Controls, for the thread and for tests.
    QFrame* pnTop = nullptr;
    QLabel* lblUrl = nullptr;
    QLineEdit* edPageUrl = nullptr;
    QLabel* lblFile = nullptr;
    QLineEdit* edFileName = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* lblInfoSize = nullptr;
    QLabel* lblSize = nullptr;
    QLabel* lblInfoProgress = nullptr;
    TStatusLabel* lblProgress = nullptr;
    QProgressBar* pb = nullptr;
    QCheckBox* chAutoClose = nullptr;
    QPushButton* btnAbort = nullptr;
    QPushButton* btnRetry = nullptr;   // beside Close when every try failed
    QLabel* lblSpeed = nullptr;        // the speed and the time left
    QAction* actAbort = nullptr;
    QTimer* tmConvert = nullptr;
    QTimer* tmClose = nullptr;

public slots:
    void actAbortExecute();
    void chAutoCloseClick();
    // Starts the transfer once more, continuing the file on disk.
    void btnRetryClick();
    void tmConvertTimer();
    void tmCloseTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void FormActivate();
    void FormClose();
    void conev(int pid, const TConversionProgress& progress, int percent);
    // While the encoder or the probe runs: lets the window's events run and ends
    // the child when the user has aborted.
    void ConversionTick(int pid);
    // Ends the encoder this window started (its process group) and any child
    // running the encoder's program.
    void EndEncoder();
    // The state of a local file whose job converts nothing.
    void ShowNothingToConvert();
    // The download has ended (not by Abort); state is what the window shows.
    void DownloadEnded(bool ok, const QString& state);
    // The work has ended: when the window is not the active one (and the
    // setting allows), a desktop notification says so, and where the file is
    // (a finished download with its size on disk).
    void WorkEnded(TWorkEnd end, const std::string& file, const QString& reason, std::int64_t size = -1);
    void SetCaption(const QString& text);
    void SetAppTitle(const QString& text);
    void SetAbortCaption(const QString& text);
    void SetPanelColor(unsigned bgr);
    void ShowDownloadProgress();
    // The size the bar and the size line show (0 or less: unknown, no bar).
    void SetExpectedSize(std::int64_t size);
    // The download has ended well: its file's size on disk is the one the size
    // line, the progress line, the title and the list show from now on.
    void ShowFileSize(std::int64_t size);
    // The page engine joins the video and the audio it downloaded.
    void ShowMerging();
    // The page engine's file is in place under this name.
    void EngineFileMoved(const std::string& path);
    void Echo(const QString& text, bool throttle);
    void Terminate();
    void LayOut();
    // The width the texts of the language need (at least MinimumWidth).
    int TextsWidth() const;
    int AutoCloseWidth() const;
    int RetryWidth() const;
    // Tells the list the job's state (nothing for a job not from the list).
    void ListReport(TJobState state);
    // The job has ended in the list's eyes.
    void ListEnded(TJobState state);
    const TGetMainTexts& Texts() const;

    TDownloadJob job_;
    QString caption_;
    QString appTitle_;
    bool activated_ = false;
    std::atomic<bool> closing_{false};
    std::atomic<bool> progressPending_{false};
    std::int64_t lastEcho_ = 0;
    QString lastEchoText_;
    TTransferRate rate_;
    std::int64_t lastSpeedShown_ = 0;
    bool resumeNext_ = false;  // the next transfer continues the file on disk
    // The file this job made and may write (the download thread's alone).
    std::optional<TFileId> ownFile_;
    // Closing was asked while work ran: the work stops as by Abort (with its
    // question), then the window closes.
    bool closeWhenStopped_ = false;
    int encoderPid_ = 0;           // the running encoder or probe, 0 when none
    std::int64_t lastEvents_ = 0;  // when conev last let events run (ms)
    std::int32_t shownFrames_ = -1;  // what the status line shows
    int shownPercent_ = -1;
    TShownPercent downloadPercent_;  // the download's, never going back
    std::int64_t fileSize_ = -1;     // the finished download's size on disk; -1 until then
    TJobReporter* reporter_ = nullptr;  // the list's end, when the job is a row of it
    bool listHidden_ = false;           // a job of the list whose window is not shown now
    bool listQuiet_ = false;            // started without a window: the list tells how it ended
    // Abort came from the list: the partial file stays without a question.
    std::atomic<bool> quietAbort_{false};
    int convertPercent_ = 0;
};

// Makes the worker that downloads the window's job (not started yet; it deletes
// itself when it has finished).
QThread* NewDownThread(TFormGetMain* form);
