// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DownThread.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "download/ConversionStep.h"
#include "engine/ClipFiles.h"
#include "app/Settings.h"
#include "engine/EngineDownload.h"
#include "download/JobReport.h"
#include "ui/GetMain.h"
#include "download/GetMainTexts.h"
#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "net/SegmentedDownload.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "ui/MessageBoxes.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
// Something the stopped job leaves that the user may want: a file with bytes in
// it, or the engine's folder with partial files.
bool HasPartial(const std::string& path)
{
    return FileSizeOf(path) > 0 || !PartialFilesIn(path).empty();
}
} // namespace

QThread* NewDownThread(TFormGetMain* form)
{
    return new TDownThread(form);
}

TDownThread::TDownThread(TFormGetMain* form) : form_(form)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

template <typename F> void TDownThread::OnWindow(F f)
{
    QMetaObject::invokeMethod(form_, f, Qt::BlockingQueuedConnection);
}

bool TDownThread::DownloadProgress(std::int32_t chunkBytes, std::int64_t /*totalBytes*/)
{
    if (chunkBytes > 0)
        form_->BytesDone += chunkBytes;
    // The window shows the latest state about 25 times a second: more updates
    // than the eye can see would only take the processor from the transfer. While
    // one update waits to be shown, the next chunks only add to the count; the
    // last state is shown when the transfer ends.
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    if (now - lastUpdate_ >= UpdateIntervalMs && !form_->progressPending_.exchange(true)) {
        lastUpdate_ = now;
        QMetaObject::invokeMethod(form_, [form = form_] { form->ShowDownloadProgress(); }, Qt::QueuedConnection);
    }
    return !form_->Aborted && !form_->closing_;
}

bool TDownThread::Transfer(bool continueFile)
{
    TFormGetMain* form = form_;
    const TDownloadJob& job = form->JobOf();
    TInet inet;
    inet.Url = job.MediaUrl;
    inet.MaxBytesPerSecond = job.RateLimit;
    inet.OwnFile = form->ownFile_;
    inet.OnProgress = [this](std::int32_t chunk, std::int64_t total) { return DownloadProgress(chunk, total); };
    struct Outcome {
        TInet& inet;
        TDownThread& thread;
        ~Outcome()
        {
            thread.lastStatus_ = inet.Status;
            thread.lastWriteError_ = inet.WriteError;
        }
    } outcome{inet, *this};
    const std::int64_t onDisk = continueFile ? FileSizeOf(job.OutputFile) : 0;
    // Only the file this job made is written, continued or started anew; any
    // other file at its name (or bytes there that no job made) stays as it is,
    // and the server is not even asked.
    if ((form->ownFile_ && FileIdOf(job.OutputFile) != form->ownFile_) || (!form->ownFile_ && onDisk > 0)) {
        inet.Status = InetFileChanged;
        return false;
    }
    if (UsesConnections(job.OutputFile, continueFile)) {
        // Several connections when the server takes part requests; the window
        // shows them as one download.
        if (!form->ownFile_) {
            CreateEmptyFile(job.OutputFile);
            form->ownFile_ = FileIdOf(job.OutputFile);
            inet.OwnFile = form->ownFile_;
        }
        form->BytesDone = 0;
        return DownloadWithConnections(inet, job.OutputFile, AppSettings.Connections,
                                       [this, form](std::int64_t done, std::int64_t total) {
                                           form->BytesDone = done;
                                           OnWindow([form, done, total] {
                                               form->rate_.Restart(done, QDateTime::currentMSecsSinceEpoch());
                                               if (done == 0)
                                                   form->downloadPercent_.Reset();
                                               if (total > 0)
                                                   form->SetExpectedSize(total);
                                           });
                                       });
    }
    if (onDisk > 0) {
        // Continue with a range request; a server that sends the whole body
        // instead (200) gets the job's file emptied and written from the start.
        form->BytesDone = onDisk;
        OnWindow([form, onDisk] { form->rate_.Restart(onDisk, QDateTime::currentMSecsSinceEpoch()); });
        if (inet.DownloadToFile(job.OutputFile, 0, onDisk, true))
            return true;
        if (inet.Status != InetSeekFailed || form->Aborted || form->closing_)
            return false;
        TInet whole;
        whole.Url = job.MediaUrl;
        whole.MaxBytesPerSecond = job.RateLimit;
        whole.OwnFile = form->ownFile_;
        whole.OnProgress = inet.OnProgress;
        form->BytesDone = 0;
        OnWindow([form] {
            form->rate_.Restart(0, QDateTime::currentMSecsSinceEpoch());
            form->downloadPercent_.Reset();
        });
        const bool whole_ok = whole.DownloadToFile(job.OutputFile, 0, 0, false);
        inet.Status = whole.Status;
        inet.WriteError = whole.WriteError;
        return whole_ok;
    }
    form->BytesDone = 0;
    inet.Open();
    if (form->ownFile_)
        return inet.DownloadToFile(job.OutputFile, 0, 0, false);
    // A job without a file of its own yet (a "-get" line typed by hand) makes
    // it now; its tries after this one continue that file only.
    CreateEmptyFile(job.OutputFile);
    form->ownFile_ = FileIdOf(job.OutputFile);
    inet.OwnFile = form->ownFile_;
    return inet.DownloadToFile(job.OutputFile, 0, 0, true);
}

bool TDownThread::EngineTransfer(bool continuing)
{
    TFormGetMain* form = form_;
    const TDownloadJob& job = form->JobOf();
    engineError_.clear();
    engineNote_.clear();
    form->BytesDone = 0;
    std::int64_t shownTotal = job.ExpectedSize;
    bool merging = false;
    const TEngineRun run = RunEngineDownload(
        EngineRequestFor(job), job.OutputFile,
        [&](const TEngineTally& tally) {
            form->BytesDone = tally.Done();
            const std::int64_t total = tally.Total();
            if (total > 0 && total != shownTotal) {
                shownTotal = total;
                QMetaObject::invokeMethod(form, [form, total] { form->SetExpectedSize(total); }, Qt::QueuedConnection);
            }
            if (tally.Merging() && !merging) {
                merging = true;
                QMetaObject::invokeMethod(form, [form] { form->ShowMerging(); }, Qt::QueuedConnection);
            } else if (!merging) {
                DownloadProgress(0, tally.Done());
            }
        },
        [form] { return form->Aborted || form->closing_; }, continuing);
    if (run.Ok) {
        const bool polish = AppSettings.LangPolish;
        if (run.SponsorFailed)
            engineNote_ = SponsorServiceFailedText(polish);
        if (job.SplitChapters)
            engineNote_ += (engineNote_.empty() ? "" : "; ") +
                           (run.Chapters.empty() ? NoChaptersText(polish)
                                                 : ChaptersSavedText(run.Chapters.size(), ChapterFolderFor(run.OutputFile), polish));
        form->BytesDone = FileSizeOf(run.OutputFile);
        OnWindow([form, &run] { form->EngineFileMoved(run.OutputFile); });
    } else if (!run.Stopped) {
        engineError_ = PrintableText(EngineRunMessage(run, AppSettings.LangPolish));
    }
    return run.Ok;
}

bool TDownThread::PauseBeforeTry(int milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until) {
        if (form_->Aborted || form_->closing_)
            return false;
        // Short slices: Abort and closing act within a moment.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !form_->Aborted && !form_->closing_;
}

void TDownThread::Execute()
{
    TFormGetMain* form = form_;
    const TDownloadJob& job = form->JobOf();
    const TGetMainTexts& texts = form->Texts();

    OnWindow([form, &texts] { form->SetAbortCaption(QString::fromUtf8(texts.Abort)); });
    form->Downloading = true;
    form->Aborted = false;
    OnWindow([form, &job] {
        form->pb->setValue(0);
        form->SetExpectedSize(job.ExpectedSize);
    });

    form->StopTransfer = false;
    const bool resume = form->resumeNext_;
    form->resumeNext_ = false;
    bool ok = false;
    try {
        // Abort and closing end a transfer at once, also while nothing arrives.
        const TNetworkStepScope stoppable(&form->StopTransfer);
        ok = job.ThroughEngine ? EngineTransfer(resume) : Transfer(resume);
        int tries = 0;
        // A transfer that broke after some bytes arrived is tried again, from
        // where the file ends, with growing pauses over about a minute. A full
        // disk or a certificate that isn't trusted is not helped by waiting.
        // (The engine makes its own tries.)
        while (!ok && !job.ThroughEngine && !form->Aborted && !form->closing_ && tries < TFormGetMain::RetryTries &&
               lastStatus_ != InetWriteFailed && lastStatus_ != InetNotTrusted && lastStatus_ != InetFileChanged &&
               (tries > 0 || resume || form->BytesDone > 0)) {
            ++tries;
            const QString state = QString::fromUtf8(texts.Retrying) + " " + QString::number(tries) + "/" +
                                  QString::number(TFormGetMain::RetryTries) + "...";
            OnWindow([form, &state] {
                form->SetCaption(state);
                form->lblProgress->setText(state);
                form->lblSpeed->clear();
            });
            if (!PauseBeforeTry(TFormGetMain::RetryPauseMs * RetryPauseUnits(tries)))
                break;
            ok = Transfer(true);
        }
        // A media file of its own is cut to the part asked once it is here.
        if (ok && !job.ThroughEngine && !job.Section.empty() && !form->Aborted && !form->closing_) {
            const TCutResult cut = CutJobToSection(job, GetFfmpegPath(),
                                                   [form] { return form->Aborted || form->closing_; },
                                                   AppSettings.LangPolish);
            if (!cut.Ok && !cut.Stopped) {
                ok = false;
                engineError_ = PrintableText(cut.Error);
            }
        }
    } catch (...) {
        form->Downloading = false;
        return;
    }

    form->Downloading = false;
    if (form->closing_)
        return; // the window is going away: leave the file as it is
    // What the download gave is its file on disk: the engine's counts of its
    // streams, or a body longer than announced, are not what the user keeps.
    const std::int64_t onDisk = ok ? FileSizeOf(job.OutputFile) : -1;
    OnWindow([form, &texts, onDisk] {
        if (onDisk >= 0)
            form->ShowFileSize(onDisk);
        else
            form->ShowDownloadProgress();
        form->SetAbortCaption(QString::fromUtf8(texts.Close));
        form->repaint();
    });

    if (form->Aborted) {
        const std::string partial = job.ThroughEngine ? EngineWorkDir(job.OutputFile) : job.OutputFile;
        // Only what this job made is offered for deletion.
        const bool own = job.ThroughEngine || (form->ownFile_ && FileIdOf(partial) == form->ownFile_);
        bool remove = false;
        // Abort from the program's list keeps the partial file, to be resumed there.
        if (own && HasPartial(partial) && !form->quietAbort_) {
            const QString question = QString::fromUtf8(texts.DeleteQuestionBefore) +
                                     QString::fromStdString(job.OutputFile) + QString::fromUtf8(texts.DeleteQuestionAfter);
            OnWindow([form, &question, &remove] { remove = AskYesNo(form, "Brimtale", question); });
            if (remove && job.ThroughEngine)
                RemoveEngineWorkDir(partial);  // its partial and fragment files
            else if (remove) {
                RemoveFile(partial);
                RemoveSegmentState(partial);
            }
        }
        // The window says that the work was aborted, and where what is left stays.
        QString state = QString::fromUtf8(texts.Aborted);
        const QString kept = own && HasPartial(partial) ? QString::fromStdString(partial) : QString();
        if (!kept.isEmpty())
            state += " - " + QString::fromUtf8(texts.PartialKept) + kept;
        OnWindow([form, ok, &state, &kept] {
            form->SetCaption(state);
            form->SetAppTitle(state);
            // A long path is shortened in its middle; the whole line is the tooltip.
            form->lblProgress->SetPathText(state, kept);
            form->lblSpeed->clear();
            if (form->ConvertRequested && ok)
                form->tmConvert->start();
            else
                form->ListEnded(TJobState::Aborted);
            if (form->chAutoClose->isChecked())
                form->tmClose->start();
        });
    } else {
        std::string outcome =
            std::string(texts.Downloaded) + " " + SizeText(static_cast<std::uint64_t>(std::max<std::int64_t>(onDisk, 0))) + " - OK";
        if (ok && !engineNote_.empty())
            outcome += " - " + PrintableText(engineNote_);
        if (!ok && !engineError_.empty())
            outcome = engineError_;
        else if (!ok)
            outcome = TransferFailureText(lastStatus_, lastWriteError_, job.OutputFile, job.MediaUrl, AppSettings.LangPolish);
        // A partial file that stays (for Retry) is named.
        const std::string partial = job.ThroughEngine ? EngineWorkDir(job.OutputFile) : job.OutputFile;
        if (!ok && lastStatus_ != InetFileChanged && HasPartial(partial))
            outcome += " - " + std::string(texts.PartialKept) + partial;
        OnWindow([form, ok, &outcome] {
            const QString text = QString::fromStdString(outcome);
            form->SetCaption(text);
            form->SetAppTitle(text);
            if (form->ConvertRequested && ok)
                form->tmConvert->start();
            if (form->chAutoClose->isChecked() && ok)
                form->tmClose->start();
            // Every try failed: one more round when the user asks for it.
            form->btnRetry->setVisible(!ok);
            form->lblSpeed->clear();
            form->DownloadEnded(ok, text);
        });
    }
    OnWindow([form] {
        form->repaint();
        form->CheckGet();
    });
}
