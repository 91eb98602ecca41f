// SPDX-License-Identifier: GPL-3.0-or-later
// brimtale-cli: the road of the new-download dialog and the download window,
// from a terminal. Built from the core libraries only (no windows).

#include "programs/CliClip.h"
#include "programs/CliEngine.h"
#include "programs/CliFollow.h"
#include "programs/CliOptions.h"
#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "convert/ConRun.h"
#include "convert/Conversion.h"
#include "convert/EncoderCheck.h"
#include "convert/EncoderProfiles.h"
#include "convert/MediaProbe.h"
#include "download/ClipFiles.h"
#include "download/ConversionStep.h"
#include "download/EngineDownload.h"
#include "download/GetMainTexts.h"
#include "net/TransferRate.h"
#include "net/ZQ_Conversion.h"
#include "net/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "net/ZQ_Strings.h"
#include "sites/EngineOptions.h"
#include "sites/PageEngine.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_YouTube.h"
#include "download/GetRequest.h"
#include "download/ListJobs.h"
#include "download/OutputNaming.h"
#include "app/Texts.h"
#include "sites/PageList.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <optional>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;
// Each look-up (title, formats, resolving, size) ends by this limit.
constexpr std::chrono::seconds LookUpLimit{20};

std::atomic<bool> Interrupted{false};
// The chapters' files of the last download, printed after its file.
std::vector<std::string> ChapterFiles;

extern "C" void OnInterrupt(int)
{
    Interrupted.store(true);
}

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Progress on standard error: a bar rewritten in place on a terminal, a plain
// line now and then otherwise; nothing with --quiet.
class TProgress {
public:
    TProgress(bool quiet, bool polish) : quiet_(quiet), polish_(polish), tty_(::isatty(STDERR_FILENO) == 1) {}

    void Start() { rate_.Restart(0, NowMs()); last_ = 0; percent_.Reset(); }
    // Continues a transfer at a byte count (a resumed file).
    void Continue(std::int64_t from) { rate_.Restart(from, NowMs()); last_ = 0; }

    void Download(std::int64_t done, std::int64_t total)
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

    void Converting(int percent)
    {
        const std::int64_t now = NowMs();
        if (quiet_ || now - last_ < (tty_ ? 200 : 1000))
            return;
        last_ = now;
        Show(percent, std::string(GetMainTexts(polish_).ConvertWord) + "... " + std::to_string(percent) + " %");
    }

    // Ends a bar's line before anything else is printed.
    void End()
    {
        if (tty_ && open_)
            std::fputs("\n", stderr);
        open_ = false;
        last_ = 0;
    }

    void Say(const std::string& text)
    {
        End();
        if (!quiet_)
            std::fprintf(stderr, "%s\n", PrintableText(text).c_str());
    }

private:
    void Show(int percent, const std::string& text)
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

    bool quiet_;
    bool polish_;
    bool tty_;
    bool open_ = false;
    std::int64_t last_ = 0;
    TTransferRate rate_;
    TShownPercent percent_;
};

// Every text printed may hold words from outside (an engine, a server, a
// name): no terminal escape or control character of theirs reaches the terminal.
void Error(TProgress& progress, const std::string& text)
{
    progress.End();
    std::fprintf(stderr, "brimtale-cli: %s\n", PrintableText(text).c_str());
}

int Interruption(TProgress& progress, const std::string& partial, bool polish)
{
    std::string text = polish ? "przerwano" : "interrupted";
    struct stat st {};
    // A partial file, or the folder of the page engine's partial files.
    if (!partial.empty() && ::lstat(partial.c_str(), &st) == 0 &&
        ((S_ISREG(st.st_mode) && st.st_size > 0) || S_ISDIR(st.st_mode)))
        text += (polish ? "; niekompletny plik pozostaje: " : "; the partial file is kept: ") + partial;
    Error(progress, text);
    return ExitInterrupted;
}

void RemoveIfEmpty(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
        RemoveFile(path);
}

const TYouTubeFormat* FindFormat(const std::string& value)
{
    for (const TYouTubeFormat& f : YouTubeFormats)
        if (SameTextAscii(value, f.SettingsValue))
            return &f;
    return nullptr;
}

// The page engine's formats of any other page, one a line.
int ListEngineFormats(const std::string& url, const std::string& input, TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    TPageInfo page;
    {
        const TNetworkStepScope step(LookUpLimit, &Interrupted);
        page = LookUpPage(url);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!page.Found) {
        Error(progress, PageInfoProblem(page, polish) + " " + input);
        return ExitFailed;
    }
    for (const TPageFormat& f : page.Formats)
        std::printf("%s\n", FormatListLine(f).c_str());
    std::fflush(stdout);
    return ExitOk;
}

int ListFormats(const std::string& input, TProgress& progress)
{
    const std::string url = Trim(input);
    const TVideoSite site = DetectVideoSite(url);
    if (site == vsNone || site == vsLocalFile) {
        Error(progress, std::string(AppSettings.LangPolish ? "to nie jest adres strony: " : "not a page address: ") +
                            input);
        return ExitFailed;
    }
    if (site != vsYouTube)
        return ListEngineFormats(url, input, progress);
    TYT_Info_NEW info;
    TPageInfo page;  // the page engine's formats when the page's own gave nothing
    {
        const TNetworkStepScope step(LookUpLimit, &Interrupted);
        info = GetYouTubeFormats(NormalizeYouTubeUrl(url));
        if (std::none_of(info.begin(), info.end(), [](const TYT_MovieItem& m) { return m.Found; }) && !Interrupted)
            page = LookUpPage(url);
    }
    if (Interrupted)
        return Interruption(progress, {}, AppSettings.LangPolish);
    for (const TYouTubeFormat& f : YouTubeFormats)
        if (info[static_cast<std::size_t>(f.Slot - 1)].Found || PageOffersYouTubeFormat(page, f.FormatNumber))
            std::printf("%s\t%s\n", f.SettingsValue, f.Caption);
    std::fflush(stdout);
    return ExitOk;
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
int EngineDownload(TDownloadJob& job, TProgress& progress, bool polish)
{
    progress.Start();
    const TEngineRun run = RunEngineDownload(EngineRequestFor(job), job.OutputFile, EngineProgress(progress, polish),
                                             [] { return Interrupted.load(); });
    return EngineDownloaded(job, run, progress, polish);
}

// One transfer into the job's file: from the start, or continuing what is on
// disk (from the start again when the server can't continue).
bool TransferOnce(TDownloadJob& job, TProgress& progress, bool continueFile, TInet& inet)
{
    inet.Url = job.MediaUrl;
    inet.MaxBytesPerSecond = job.RateLimit;
    inet.OnProgress = [&](std::int32_t, std::int64_t total) {
        progress.Download(total, job.ExpectedSize);
        return !Interrupted.load();
    };
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
    RemoveIfEmpty(job.OutputFile);
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
int Convert(const TDownloadJob& job, bool localSource, TProgress& progress, bool polish, std::string& finalPath)
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

// Cuts a downloaded media file to the job's section.
int CutDownloaded(const TDownloadJob& job, TProgress& progress, bool polish)
{
    const std::optional<TTimeSection> section = SectionFromValue(job.Section);
    if (!section)
        return ExitOk;
    TMediaInfo info;
    ProbeMediaFile(job.OutputFile, GetFfmpegPath(), info);
    progress.Say(polish ? "Wycinanie części " + SectionTag(*section) + "..." : "Cutting the part " + SectionTag(*section) + "...");
    const TCutResult cut = CutMediaFile(GetFfmpegPath(), job.OutputFile, *section, info.Duration,
                                        [] { return Interrupted.load(); }, polish);
    if (cut.Stopped || Interrupted)
        return Interruption(progress, job.OutputFile, polish);
    if (!cut.Ok) {
        Error(progress, cut.Error + " (" + job.OutputFile + ")");
        return ExitFailed;
    }
    return ExitOk;
}

// What every job of this run is asked: the conversion, the format and the
// engine's options (the address, directory and name are each job's own).
TGetRequest CliRequest(const TCliOptions& options, const TEncoderProfile* profile, int formatNumber,
                       const std::optional<TFormatChoice>& choice, const TEngineOptions& engineOptions)
{
    TGetRequest request;
    request.Convert = profile != nullptr;
    request.Profile = profile;
    request.DeleteInput = options.DeleteInput;
    request.FormatNumber = formatNumber;
    if (choice)
        request.EngineChoice = EngineFormatFor(*choice);
    request.EngineOptions = engineOptions;
    return request;
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
        if (!job.ThroughEngine && !job.Section.empty()) {
            const int cut = CutDownloaded(job, progress, polish);
            if (cut != ExitOk)
                return cut;
        }
    }
    return FinishJob(job, localSource, progress, polish);
}

// The name the dialog would propose, with the profile's extension when it
// converts. A page whose title could not be read still gets one and so its
// look-up: its reason (no media, not reachable) says more than a missing name.
std::string ProposedName(std::string name, bool page, const TEncoderProfile* profile)
{
    if (page && Trim(name).empty())
        name = "video";
    if (profile && !profile->Ext.empty() && profile->Ext != "-")
        name = ReplaceNameExtension(name, "." + profile->Ext);
    return name;
}

// A page for the engine is read by the engine run that downloads it: the job
// is named while that run already downloads into a folder of its own, so the
// engine starts once. Nothing when the page takes the usual road (a look-up,
// then the download): a media file, a page the engine could not read (the
// look-up says why, as ever), or a job whose download differs.
std::optional<int> RunEnginePage(const TGetRequest& given, const std::string& url, const TEncoderProfile* profile,
                                 TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    if (ChooseEngine().Path.empty())
        return std::nullopt;
    // A part is checked against the page's duration, and a sponsor segment
    // service that fails means a run again: both after a look-up.
    if (given.EngineOptions.Clip.Section || given.EngineOptions.Clip.Sponsor != TSponsorMode::Off)
        return std::nullopt;
    TMediaAddress media;
    {
        const TNetworkStepScope step(LookUpLimit, &Interrupted);
        media = ProbeMediaAddress(url);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    // A file that is no media is refused on the usual road; a server that
    // answers with an error is said so there.
    if (media.IsMedia || media.NotTrusted || media.PlainFile || media.HttpStatus >= 400)
        return std::nullopt;
    // The folder and its checks, before any name is known.
    TGetRequest request = given;
    request.FileName = given.FileName.empty() ? std::string("video") : given.FileName;
    const TGetPlan folder = PlanGet(request, polish);
    if (!folder.Message.empty())
        return std::nullopt;

    std::optional<TDownloadJob> named;
    std::string refusal;
    const TEngineNamer name = [&](const TPageInfo& page) -> std::optional<TEngineNaming> {
        // The look-up's answer from here on: the naming reads it as if it had asked.
        KeepPageLookUp(url, page);
        request.FileName = given.FileName.empty()
                               ? ProposedName(FileNameFromTitle(page.Title, page.Ext.empty() ? "" : "." + page.Ext),
                                              true, profile)
                               : given.FileName;
        const TGetPlan plan = PlanGet(request, polish);
        if (!plan.Message.empty()) {
            refusal = plan.Message;
            return std::nullopt;
        }
        const TResolvedMedia resolved = ResolveEnginePage(plan, polish);
        if (!resolved.Message.empty() || !resolved.ThroughEngine) {
            refusal = resolved.Message.empty() ? std::string(MessageText(TMessageId::JobRefused, polish))
                                               : resolved.Message;
            if (refusal.find(given.Url) == std::string::npos)
                refusal += " " + given.Url;
            return std::nullopt;
        }
        const std::string path = ReserveJobOutput(plan, resolved);
        TDownloadJob job = MakeDownloadJob(request, plan, resolved, path, resolved.EngineSize);
        if (path.empty() || !IsJobValid(job)) {
            ReleaseJobOutput(resolved, path);
            refusal = std::string(MessageText(TMessageId::JobRefused, polish)) + " " + given.Url;
            return std::nullopt;
        }
        named = job;
        return TEngineNaming{path, EngineRequestFor(job)};
    };

    TEngineRequest engineRequest =
        EngineRequestFor(url, given.EngineChoice.value_or(TEngineFormat{}), given.EngineOptions);
    // Most pages give MP4; another container that takes no cover picture hands
    // the job over to a download of its own.
    engineRequest.ExpectedExt = engineRequest.Format.MergeFormat.empty() ? "mp4" : engineRequest.Format.MergeFormat;
    progress.Start();
    const TEngineRun run = RunEngineReadingPage(engineRequest, folder.Directory, static_cast<int>(LookUpLimit.count()),
                                                name, EngineProgress(progress, polish), [] { return Interrupted.load(); });
    if (named && (run.Named || run.HandedOver)) {
        TDownloadJob& job = *named;
        const int downloaded = run.Named ? EngineDownloaded(job, run, progress, polish) : Download(job, progress, polish);
        return downloaded != ExitOk ? downloaded : FinishJob(job, false, progress, polish);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!refusal.empty()) {
        Error(progress, refusal);
        return ExitFailed;
    }
    if (run.TimedOut) {
        // The page did not answer in time: the look-up would say so, without asking again.
        TPageInfo page;
        page.Error = LookUpTimedOutText;
        KeepPageLookUp(url, page);
    }
    return std::nullopt;
}

int RunOne(const std::string& input, const TCliOptions& options, const TEncoderProfile* profile, int formatNumber,
           const std::optional<TFormatChoice>& choice, const TEngineOptions& engineOptions, TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    TGetRequest request = CliRequest(options, profile, formatNumber, choice, engineOptions);
    request.Url = input;
    request.Directory = options.Directory.empty() ? AppSettings.LastDir : options.Directory;

    // The name the dialog would propose: the page's title, or the file's own name.
    request.FileName = options.OutputName;
    const std::string url = Trim(input);
    const TVideoSite site = DetectVideoSite(url);
    if (site == vsWebPage) {
        if (const std::optional<int> done = RunEnginePage(request, url, profile, progress))
            return *done;
    }
    if (request.FileName.empty() && site != vsNone) {
        if (site == vsLocalFile) {
            request.FileName = ExtractFileName(url);
        } else {
            const TNetworkStepScope step(LookUpLimit, &Interrupted);
            request.FileName = FileNameFromPage(site == vsYouTube ? NormalizeYouTubeUrl(url) : url, site);
        }
        if (Interrupted)
            return Interruption(progress, {}, polish);
        request.FileName = ProposedName(request.FileName, site != vsLocalFile, profile);
    }

    const TGetPlan plan = PlanGet(request, polish);
    if (!plan.Message.empty()) {
        Error(progress, plan.Message + (plan.Site == vsNone ? ": " + input : std::string()));
        return ExitFailed;
    }
    TResolvedMedia resolved;
    std::int32_t size = 0;
    {
        const TNetworkStepScope step(LookUpLimit, &Interrupted);
        resolved = ResolveMedia(plan, formatNumber, polish);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!resolved.Message.empty()) {
        Error(progress, resolved.Message.find(input) == std::string::npos ? resolved.Message + " " + input
                                                                         : resolved.Message);
        if (resolved.OfferEngineUpdate)
            Error(progress, EngineUpdateHint(polish));
        return ExitFailed;
    }
    if (const std::optional<TTimeSection> asked = request.EngineOptions.Clip.Section; asked && resolved.ThroughEngine) {
        // The part within the video's duration, when the page gives one.
        std::string why;
        const std::optional<TTimeSection> fitted =
            FitSection(*asked, resolved.EngineInfo ? PageDuration(*resolved.EngineInfo) : std::nullopt, why, polish);
        if (!fitted) {
            Error(progress, why + " " + input);
            return ExitFailed;
        }
        if (*fitted != *asked) {
            progress.Say((polish ? "Koniec części to koniec filmu: " : "The part ends where the video does: ") +
                         SectionTag(*fitted));
            request.EngineOptions.Clip.Section = fitted;
            resolved.Path = ReplaceAll(resolved.Path, SectionTag(*asked), SectionTag(*fitted));
        }
    }
    size = resolved.EngineSize;
    if (!resolved.MediaUrl.empty() && !resolved.ThroughEngine) {
        const TNetworkStepScope step(LookUpLimit, &Interrupted);
        size = QueryExpectedSize(resolved.MediaUrl);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    // The name is this job's from here on: another job started meanwhile gets another.
    const std::string path = ReserveJobOutput(plan, resolved);
    TDownloadJob job = MakeDownloadJob(request, plan, resolved, path, size);
    if (!IsJobValid(job)) {
        ReleaseJobOutput(resolved, path);
        Error(progress, std::string(MessageText(TMessageId::JobRefused, polish)) + " " + input);
        return ExitFailed;
    }

    return RunJob(job, progress, polish);
}

// --playlist: a page that lists several videos gives every one of them, in
// order; any other input goes the road of one.
int RunList(const std::string& input, const TCliOptions& options, const TEncoderProfile* profile, int formatNumber,
            const std::optional<TFormatChoice>& choice, const TEngineOptions& engineOptions, TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    const std::string url = Trim(input);
    const TVideoSite site = DetectVideoSite(url);
    if (site == vsNone || site == vsLocalFile)
        return RunOne(input, options, profile, formatNumber, choice, engineOptions, progress);
    TPageList list;
    {
        const TNetworkStepScope step(std::chrono::seconds(PageLookUpSeconds), &Interrupted);
        list = LookUpPageList(url);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!list.IsList)
        return RunOne(input, options, profile, formatNumber, choice, engineOptions, progress);

    progress.Say(PageListText(list.Entries.size(), polish) + (list.Title.empty() ? "" : ": " + list.Title));
    if (list.Skipped > 0)
        progress.Say(polish ? "Pominięte pozycje listy (bez własnego adresu lub ponad limit): " +
                                  std::to_string(list.Skipped)
                            : "Entries of the list left out (no address of their own, or beyond the limit): " +
                                  std::to_string(list.Skipped));
    const std::string typed = options.Directory.empty() ? AppSettings.LastDir : options.Directory;
    const std::string directory = UserOutputDir(typed);
    const std::string folder = ListFolder(directory, list.Title, AppSettings.ListInFolder);
    if (folder.empty()) {
        Error(progress, CantCreateDirMessage(directory.empty() ? typed : directory, polish));
        return ExitFailed;
    }
    TListJobMaker maker(CliRequest(options, profile, formatNumber, choice, engineOptions), folder);
    int status = ExitOk;
    for (std::size_t i = 0; i < list.Entries.size(); ++i) {
        const TPageListEntry& entry = list.Entries[i];
        progress.Say("(" + std::to_string(i + 1) + "/" + std::to_string(list.Entries.size()) + ") " + entry.Url);
        // The name is taken just before the entry's download, so an interrupted
        // list leaves no names behind for the entries that did not start.
        TDownloadJob job;
        if (!maker.Make(entry, job)) {
            Error(progress, std::string(MessageText(TMessageId::JobRefused, polish)) + " " + entry.Url);
            status = ExitFailed;
            continue;
        }
        const int one = RunJob(job, progress, polish);
        if (one == ExitInterrupted)
            return one;
        if (one != ExitOk)
            status = ExitFailed;
    }
    return status;
}

void CatchInterrupt()
{
    struct sigaction interrupt {};
    interrupt.sa_handler = OnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    ::sigaction(SIGINT, &interrupt, nullptr);
    ::sigaction(SIGTERM, &interrupt, nullptr);
}

// --follow, --unfollow, --following, --check: each followed page's videos
// are downloaded with its own folder, format and profile.
int FollowCommand(const TCliOptions& options, const std::vector<TEncoderProfile>& profiles,
                  const TEngineOptions& engineOptions)
{
    CatchInterrupt();
    const bool polish = AppSettings.LangPolish;
    TProgress progress(options.Quiet, polish);
    TFollowHooks hooks;
    hooks.FollowingDir = FollowingDir(DataDir);
    hooks.Polish = polish;
    hooks.ListInFolder = AppSettings.ListInFolder;
    hooks.Say = [&](const std::string& text) { progress.Say(text); };
    hooks.Error = [&](const std::string& text) { Error(progress, text); };
    hooks.Interrupted = [] { return Interrupted.load(); };
    hooks.Now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    hooks.LookUp = [](const std::string& url) {
        const TNetworkStepScope step(std::chrono::seconds(PageLookUpSeconds), &Interrupted);
        return LookUpPageList(url);
    };
    hooks.Download = [&](const TFollowedPage& page, const TPageListEntry& entry, const std::string& folder) {
        const TEncoderProfile* profile = nullptr;
        if (!page.Profile.empty() && !(profile = FindProfileNamed(profiles, page.Profile))) {
            Error(progress, "unknown profile " + page.Profile + " (" + page.Url + ")");
            return ExitFailed;
        }
        const TYouTubeFormat* format = FindFormat(page.Format.empty() ? "MP4_720" : page.Format);
        std::optional<TFormatChoice> choice;
        if (!format) {
            choice = ParseFormatChoice(page.Format);
            format = FindFormat("MP4_720");
            if (!choice) {
                Error(progress, "unknown format " + page.Format + " (" + page.Url + ")");
                return ExitFailed;
            }
        }
        progress.Say(entry.Url);
        TListJobMaker maker(CliRequest(options, profile, format->FormatNumber, choice, engineOptions), folder);
        TDownloadJob job;
        if (!maker.Make(entry, job)) {
            Error(progress, std::string(MessageText(TMessageId::JobRefused, polish)) + " " + entry.Url);
            return ExitFailed;
        }
        return RunJob(job, progress, polish);
    };
    if (!options.Follow.empty()) {
        // The format and profile are checked now, not at the first check.
        if (!options.Profile.empty() && !FindProfileNamed(profiles, options.Profile)) {
            Error(progress, "unknown profile " + options.Profile + " (see --list-profiles)");
            return ExitUsage;
        }
        if (!options.Format.empty() && !FindFormat(options.Format) && !ParseFormatChoice(options.Format)) {
            Error(progress, "unknown format " + options.Format);
            return ExitUsage;
        }
    }
    const int status = RunFollowCommand(options, hooks);
    return Interrupted ? ExitInterrupted : status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    TCliOptions options;
    std::string error;
    if (!ParseCliOptions(args, options, error)) {
        std::fprintf(stderr, "brimtale-cli: %s\nTry 'brimtale-cli --help'.\n", error.c_str());
        return ExitUsage;
    }
    if (options.Help) {
        std::fputs(CliHelpText().c_str(), stdout);
        return ExitOk;
    }
    if (options.Version) {
        std::printf("brimtale-cli %s\n", ProductVersion);
        return ExitOk;
    }

    // The program's own places: settings, history and profiles as the windows use them.
    InitAppDirs();
    SettingsFile = DataDir + "/bmt.ini";
    InitSettings();
    LoadSettings(SettingsFile);
    ApplyFirstRunLanguage();

    if (options.UpdateEngine || options.RestoreEngine || options.EngineStatus)
        return RunEngineCommand(options);

    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(AppSettings.ProfilesFile);
    if (options.ListProfiles) {
        for (const TEncoderProfile& p : profiles)
            std::printf("%s\t%s\n", p.Section.c_str(), p.DisplayName.c_str());
        return ExitOk;
    }
    const TEncoderProfile* profile = nullptr;
    if (!options.Profile.empty() && !(profile = FindProfileNamed(profiles, options.Profile))) {
        std::fprintf(stderr, "brimtale-cli: unknown profile %s (see --list-profiles)\n", options.Profile.c_str());
        return ExitUsage;
    }
    if (profile) {
        const std::string missing = MissingEncoder(*profile, AvailableEncoders(GetFfmpegPath()));
        if (!missing.empty()) {
            std::fprintf(stderr, "brimtale-cli: profile %s: %s\n", options.Profile.c_str(),
                         MissingEncoderText(missing, AppSettings.LangPolish).c_str());
            return ExitUsage;
        }
    }
    // One of the six YouTube names, or a choice of the page engine's.
    const TYouTubeFormat* format = FindFormat(options.Format.empty() ? "MP4_720" : options.Format);
    std::optional<TFormatChoice> choice;
    if (!format) {
        choice = ParseFormatChoice(options.Format);
        format = FindFormat("MP4_720");
    }
    if (!choice && !FindFormat(options.Format.empty() ? "MP4_720" : options.Format)) {
        std::fprintf(stderr, "brimtale-cli: unknown format %s\n", PrintableText(options.Format).c_str());
        return ExitUsage;
    }
    TEngineOptions engineOptions;
    std::string bad;
    engineOptions.Metadata = !options.NoMetadata;
    if (!options.Subtitles.empty()) {
        const std::optional<std::string> languages = ParseSubtitleLanguages(options.Subtitles);
        if (languages)
            engineOptions.Subtitles = *languages;
        else
            bad = "--subs takes languages (en,pl) or all";
    }
    if (options.EmbedSubtitles && options.Subtitles.empty())
        bad = "--embed-subs needs --subs";
    engineOptions.EmbedSubtitles = options.EmbedSubtitles;
    if (!options.CookiesFrom.empty()) {
        const std::optional<std::string> browser = ParseCookiesBrowser(options.CookiesFrom);
        if (browser)
            engineOptions.CookiesBrowser = *browser;
        else
            bad = "--cookies-from takes firefox, chromium, chrome or brave, and :PROFILE";
    }
    if (!options.CookiesFile.empty()) {
        engineOptions.CookiesFile = ExpandFileName(options.CookiesFile);
        if (!engineOptions.CookiesBrowser.empty())
            bad = "--cookies and --cookies-from exclude each other";
        else if (!FileExists(engineOptions.CookiesFile))
            bad = "no cookies file " + options.CookiesFile;
    }
    if (!options.LimitRate.empty()) {
        const std::optional<std::int64_t> rate = ParseRateLimit(options.LimitRate);
        if (rate)
            engineOptions.RateLimit = *rate;
        else
            bad = "--limit-rate takes a rate of at least 1K, as 500K or 2M";
    }
    std::vector<TTimeSection> sections;
    if (bad.empty())
        ClipFromCli(options, engineOptions.Clip, sections, bad, AppSettings.LangPolish);
    if (!bad.empty()) {
        std::fprintf(stderr, "brimtale-cli: %s\n", PrintableText(bad).c_str());
        return ExitUsage;
    }
    // The look-ups sign in as the downloads do.
    SetLookUpCookies(engineOptions);
    // What earlier runs that were killed left: private folders, cookies' copies.
    RemoveStaleTempDirs();
    if (IsFollowCommand(options))
        return FollowCommand(options, profiles, engineOptions);
    if (!options.ListFormats) {
        // A folder that takes no file is said before anything is fetched.
        const std::string typed = options.Directory.empty() ? AppSettings.LastDir : options.Directory;
        const std::string directory = UserOutputDir(typed);
        if (directory.empty() || (!DirectoryExists(directory) && !ForceDirectories(directory))) {
            std::fprintf(stderr, "brimtale-cli: %s\n",
                         PrintableText(CantCreateDirMessage(directory.empty() ? typed : directory,
                                                            AppSettings.LangPolish)).c_str());
            return ExitFailed;
        }
        if (!CanWriteInDirectory(directory)) {
            std::fprintf(stderr, "brimtale-cli: %s\n",
                         PrintableText(CantWriteDirMessage(directory, AppSettings.LangPolish)).c_str());
            return ExitFailed;
        }
        ClearStaleEngineFolders(directory);
    }

    CatchInterrupt();

    TProgress progress(options.Quiet, AppSettings.LangPolish);
    int status = ExitOk;
    for (const std::string& input : options.Inputs) {
        // Each part asked for is a download of its own.
        for (const std::optional<TTimeSection>& section : SectionRuns(options.ListFormats ? std::vector<TTimeSection>{} : sections)) {
            engineOptions.Clip.Section = section;
            const int one = options.ListFormats ? ListFormats(input, progress)
                            : options.Playlist ? RunList(input, options, profile, format->FormatNumber, choice,
                                                         engineOptions, progress)
                                               : RunOne(input, options, profile, format->FormatNumber, choice,
                                                        engineOptions, progress);
            if (one == ExitInterrupted)
                return ExitInterrupted;
            if (one != ExitOk)
                status = ExitFailed;
        }
    }
    return status;
}
