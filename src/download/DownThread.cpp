#include "download/DownThread.h"

#include "app/DownloadJob.h"
#include "download/GetMain.h"
#include "download/GetMainTexts.h"
#include "net/ZQ_Conversion.h"
#include "net/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "ui/MessageBoxes.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <chrono>

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
        form->pb->setMaximum(job.ExpectedSize > 0 ? job.ExpectedSize : 0);
        form->pb->setVisible(job.ExpectedSize > 0);
        const std::uint64_t size = job.ExpectedSize > 0 ? static_cast<std::uint64_t>(job.ExpectedSize) : 0;
        form->lblSize->setText(QString::fromStdString(std::to_string(job.ExpectedSize) + " (" + SizeText(size) + ")"));
    });

    bool ok = false;
    try {
        TInet inet;
        inet.Url = job.MediaUrl;
        inet.Open();
        inet.OnProgress = [this](std::int32_t chunk, std::int64_t total) { return DownloadProgress(chunk, total); };
        CreateEmptyFile(job.OutputFile);
        ok = inet.DownloadToFile(job.OutputFile, 0, 0, true);
    } catch (...) {
        form->Downloading = false;
        return;
    }

    form->Downloading = false;
    if (form->closing_)
        return; // the window is going away: leave the file as it is
    OnWindow([form, &texts] {
        form->ShowDownloadProgress();
        form->SetAbortCaption(QString::fromUtf8(texts.Close));
        form->repaint();
    });

    if (form->Aborted) {
        const QString question = QString::fromUtf8(texts.DeleteQuestionBefore) +
                                 QString::fromStdString(job.OutputFile) + QString::fromUtf8(texts.DeleteQuestionAfter);
        bool remove = false;
        OnWindow([form, &question, &remove] { remove = AskYesNo(form, "Brimtale", question); });
        if (remove)
            RemoveFile(job.OutputFile);
        OnWindow([form, ok] {
            if (form->ConvertRequested && ok)
                form->tmConvert->start();
            if (form->chAutoClose->isChecked())
                form->tmClose->start();
        });
    } else {
        std::string outcome = std::string(texts.Downloaded) + " " +
                              SizeText(static_cast<std::uint64_t>(form->BytesDone.load())) + " - OK";
        if (!ok)
            outcome = texts.ConnectionError;
        OnWindow([form, ok, &outcome] {
            const QString text = QString::fromStdString(outcome);
            form->SetCaption(text);
            form->SetAppTitle(text);
            if (form->ConvertRequested && ok)
                form->tmConvert->start();
            if (form->chAutoClose->isChecked() && ok)
                form->tmClose->start();
        });
    }
    OnWindow([form] {
        form->repaint();
        form->CheckGet();
    });
}
