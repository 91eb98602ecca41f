// SPDX-License-Identifier: GPL-3.0-or-later
#include "programs/CliRun.h"

#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "base/ZQ_Conversion.h"
#include "base/ZQ_Strings.h"
#include "convert/Conversion.h"
#include "convert/EncoderProfiles.h"
#include "download/ConversionStep.h"
#include "engine/ClipFiles.h"
#include "download/GetMainTexts.h"
#include "net/SegmentedDownload.h"
#include "net/ZQ_Internet.h"
#include "system/ZQ_FileSystem.h"
#include "system/ZQ_System.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

std::atomic<bool> Interrupted{false};
// The chapters' files of the last download, printed after its file.
static std::vector<std::string> ChapterFiles;

namespace {

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}


} // namespace

TProgress::TProgress(bool quiet, bool polish) : quiet_(quiet), polish_(polish), tty_(StandardErrorIsTerminal()) {}

void TProgress::Start()
{
    rate_.Restart(0, NowMs());
    last_ = 0;
    percent_.Reset();
}

void TProgress::Continue(std::int64_t from)
{
    rate_.Restart(from, NowMs());
    last_ = 0;
}

void TProgress::Download(std::int64_t done, std::int64_t total)
{
    const std::int64_t now = NowMs();
    rate_.Sample(done, now);
    if (quiet_ || now - last_ < (tty_ ? 200 : 1000))
        return;
    last_ = now;
    std::string line = SizeText(static_cast<std::uint64_t>(done));
    int percent = -1;
    if (total > 0) {
        percent = percent_.Next(done, total);
        line += " / " + SizeText(static_cast<std::uint64_t>(total)) + "  " + std::to_string(percent) + " %";
    }
    line += "  " + TransferSpeedText(rate_.BytesPerSecond(), total > 0 ? rate_.SecondsLeft(total - done) : -1,
                                     polish_, total > 0);
    Show(percent, line);
}

void TProgress::Converting(int percent)
{
    const std::int64_t now = NowMs();
    if (quiet_ || now - last_ < (tty_ ? 200 : 1000))
        return;
    last_ = now;
    Show(percent, std::string(GetMainTexts(polish_).ConvertWord) + "... " + std::to_string(percent) + " %");
}

void TProgress::End()
{
    if (tty_ && open_)
        std::fputs("\n", stderr);
    open_ = false;
    last_ = 0;
}

void TProgress::Say(const std::string& text)
{
    End();
    if (!quiet_)
        std::fprintf(stderr, "%s\n", PrintableText(text).c_str());
}

void TProgress::Show(int percent, const std::string& text)
{
    if (!tty_) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    std::string bar;
    if (percent >= 0) {
        const int filled = percent * 20 / 100;
        bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(20 - filled), '.') + "] ";
    }
    std::fprintf(stderr, "\r\033[K%s%s", bar.c_str(), text.c_str());
    std::fflush(stderr);
    open_ = true;
}


void Error(TProgress& progress, const std::string& text)
{
    progress.End();
    std::fprintf(stderr, "brimtale-cli: %s\n", PrintableText(text).c_str());
}

int Interruption(TProgress& progress, const std::string& partial, bool polish)
{
    std::string text = polish ? "przerwano" : "interrupted";
    // A partial file, or the folder of the page engine's partial files.
    const TPathInfo kept = PathInfoOf(partial);
    if ((kept.Regular && kept.Size > 0) || kept.Folder)
        text += (polish ? "; niekompletny plik pozostaje: " : "; the partial file is kept: ") + partial;
    Error(progress, text);
    return ExitInterrupted;
}

// The engine's progress as the terminal shows it.
std::function<void(const TEngineTally&)> EngineProgress(TProgress& progress, bool polish)
{
    return [&progress, polish, merging = false](const TEngineTally& tally) mutable {
        if (tally.Merging() && !merging) {
            merging = true;
            progress.Say(std::string(GetMainTexts(polish).Merging) + "...");
        } else if (!merging) {
            progress.Download(tally.Done(), tally.Total());
        }
    };
}

// What a run of the engine gave the job; the file's final name goes to job.OutputFile.
int EngineDownloaded(TDownloadJob& job, const TEngineRun& run, TProgress& progress, bool polish)
{
    if (run.Stopped || Interrupted)
        return Interruption(progress, EngineWorkDir(job.OutputFile), polish);
    if (!run.Ok) {
        std::string text = EngineRunMessage(run, polish) + " (" + job.MediaUrl + ")";
        if (!PartialFilesIn(run.WorkDir).empty())
            text += "; " + std::string(GetMainTexts(polish).PartialKept) + run.WorkDir;
        Error(progress, text);
        return ExitFailed;
    }
    job.OutputFile = run.OutputFile;
    progress.Say(std::string(GetMainTexts(polish).Downloaded) + " " +
                 SizeText(static_cast<std::uint64_t>(FileSizeOf(job.OutputFile))) + " - OK");
    for (const std::string& subtitles : run.Subtitles)
        progress.Say((polish ? "Napisy: " : "Subtitles: ") + subtitles);
    if (run.SponsorFailed)
        Error(progress, SponsorServiceFailedText(polish));
    if (job.SplitChapters)
        progress.Say(run.Chapters.empty() ? NoChaptersText(polish)
                                          : ChaptersSavedText(run.Chapters.size(), ChapterFolderFor(job.OutputFile), polish));
    ChapterFiles = run.Chapters;
    return ExitOk;
}

// Through the page engine.
static int EngineDownload(TDownloadJob& job, TProgress& progress, bool polish)
{
    progress.Start();
    const TEngineRun run = RunEngineDownload(EngineRequestFor(job), job.OutputFile, EngineProgress(progress, polish),
                                             [] { return Interrupted.load(); });
    return EngineDownloaded(job, run, progress, polish);
}

// One transfer into the job's file: from the start, or continuing what is on
// disk (from the start again when the server can't continue).
static bool TransferOnce(TDownloadJob& job, TProgress& progress, bool continueFile, TInet& inet)
{
    inet.Url = job.MediaUrl;
    inet.MaxBytesPerSecond = job.RateLimit;
    inet.OnProgress = [&](std::int32_t, std::int64_t total) {
        progress.Download(total, job.ExpectedSize);
        return !Interrupted.load();
    };
    if (UsesConnections(job.OutputFile, continueFile)) {
        if (!continueFile)
            CreateEmptyFile(job.OutputFile);
        return DownloadWithConnections(inet, job.OutputFile, AppSettings.Connections,
                                       [&](std::int64_t done, std::int64_t total) {
                                           if (job.ExpectedSize <= 0)
                                               job.ExpectedSize = total;
                                           if (done > 0)
                                               progress.Continue(done);
                                           else
                                               progress.Start();
                                       });
    }
    const std::int64_t onDisk = continueFile ? FileSizeOf(job.OutputFile) : 0;
    if (onDisk > 0) {
        progress.Continue(onDisk);
        const bool done = inet.DownloadToFile(job.OutputFile, 0, onDisk, true);
        if (done || inet.Status != InetSeekFailed || Interrupted)
            return done;
        progress.Start();
        return inet.DownloadToFile(job.OutputFile, 0, 0, false);
    }
    inet.Open();
    CreateEmptyFile(job.OutputFile);
    return inet.DownloadToFile(job.OutputFile, 0, 0, true);
}

// Downloads the job's media into its output file. A transfer that breaks after
// bytes arrived is tried again as the download window does: continuing the file,
// with growing pauses over about a minute.
int Download(TDownloadJob& job, TProgress& progress, bool polish)
{
    if (job.ThroughEngine)
        return EngineDownload(job, progress, polish);
    const TGetMainTexts& t = GetMainTexts(polish);
    progress.Start();
    bool ok = false;
    std::int32_t status = InetOk;
    int writeError = 0;
    {
        const TNetworkStepScope stoppable(&Interrupted);
        for (int tries = 0;; ++tries) {
            if (tries > 0) {
                progress.Say(std::string(t.Retrying) + " " + std::to_string(tries) + "/" +
                             std::to_string(TransferRetryTries) + "...");
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(RetryPauseUnits(tries));
                while (!Interrupted && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (Interrupted)
                    break;
            }
            TInet inet;
            ok = TransferOnce(job, progress, tries > 0, inet);
            status = inet.Status;
            writeError = inet.WriteError;
            if (ok || Interrupted || tries >= TransferRetryTries || status == InetWriteFailed ||
                status == InetNotTrusted || FileSizeOf(job.OutputFile) <= 0)
                break;
        }
    }
    if (Interrupted)
        return Interruption(progress, job.OutputFile, polish);
    RemoveIfEmptyFile(job.OutputFile);
    if (!ok) {
        std::string text = TransferFailureText(status, writeError, job.OutputFile, job.MediaUrl, polish);
        if (status != InetNotTrusted)
            text += " (" + job.MediaUrl + ")";
        if (FileSizeOf(job.OutputFile) > 0)
            text += "; " + std::string(t.PartialKept) + job.OutputFile;
        Error(progress, text);
        return ExitFailed;
    }
    progress.Say(std::string(t.Downloaded) + " " + SizeText(static_cast<std::uint64_t>(FileSizeOf(job.OutputFile))) +
                 " - OK");
    return ExitOk;
}

// Converts as the download window does; the final file's path goes to finalPath.
static int Convert(const TDownloadJob& job, bool localSource, TProgress& progress, bool polish, std::string& finalPath)
{
    TConversionHooks hooks;
    hooks.ShouldStop = [] { return Interrupted.load(); };
    hooks.OnProbed = [&](const TMediaInfo&, const TConversionTarget&) { progress.Start(); };
    hooks.OnProgress = [&](int, const TConversionProgress&, int percent) { progress.Converting(percent); };
    const TConversionResult result = RunConversion(job, localSource, GetFfmpegPath(),
                                                   ReadDefaultVideoBitrate(AppSettings.ProfilesFile), hooks, polish);
    switch (result.End) {
    case TConversionEnd::Stopped:
        // The converted part is gone; the downloaded input stays.
        return Interruption(progress, localSource ? std::string() : result.Input, polish);
    case TConversionEnd::Failed:
        if (result.EncoderFailed) {
            progress.End();
            for (const std::string& line : result.Lines)
                std::fprintf(stderr, "%s\n", PrintableText(line).c_str());
            WriteErrorLog(ErrorLogFile(), result.Lines);
        }
        Error(progress, std::string(GetMainTexts(polish).NoticeConversionFailed) + ": " + result.Reason);
        return ExitFailed;
    case TConversionEnd::Converted:
        break;
    }
    finalPath = result.File;
    progress.Say(std::string("OK - ") + GetMainTexts(polish).FileConverted);
    return ExitOk;
}

// What follows the download: the conversion, if any, and the final name.
int FinishJob(TDownloadJob& job, bool localSource, TProgress& progress, bool polish)
{
    std::string finalPath = job.OutputFile;
    if (JobConverts(job)) {
        const int converted = Convert(job, localSource, progress, polish, finalPath);
        if (converted != ExitOk)
            return converted;
    }
    progress.End();
    std::printf("%s\n", finalPath.c_str());
    for (const std::string& chapter : ChapterFiles)
        std::printf("%s\n", chapter.c_str());
    ChapterFiles.clear();
    std::fflush(stdout);
    return ExitOk;
}

// One job whose name is reserved: downloaded (unless its source is a file on
// disk), converted when asked, its final file's path printed.
int RunJob(TDownloadJob& job, TProgress& progress, bool polish)
{
    const bool localSource = FileExists(job.Source);
    if (!localSource) {
        const int downloaded = Download(job, progress, polish);
        if (downloaded != ExitOk)
            return downloaded;
        // A media file of its own is cut by the encoder once it is here.
        if (const std::optional<TTimeSection> section = SectionFromValue(job.Section);
            section && !job.ThroughEngine) {
            progress.Say(polish ? "Wycinanie części " + SectionTag(*section) + "..."
                                : "Cutting the part " + SectionTag(*section) + "...");
            const TCutResult cut = CutJobToSection(job, GetFfmpegPath(), [] { return Interrupted.load(); }, polish);
            if (cut.Stopped || Interrupted)
                return Interruption(progress, job.OutputFile, polish);
            if (!cut.Ok) {
                Error(progress, cut.Error + " (" + job.OutputFile + ")");
                return ExitFailed;
            }
        }
    }
    return FinishJob(job, localSource, progress, polish);
}
