// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineDownload.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/Texts.h"
#include "system/ConRun.h"
#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "engine/ClipFiles.h"
#include "engine/EngineChoice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>

const char* const EngineProgressMark = "[brimtale] ";
const char* const EngineHoldFile = ".brimtale-job";
const char* const EnginePageInfoFile = ".page.info.json";
const char* const EngineCookiesFile = ".cookies.txt";
const char* const EnginePageFolderPrefix = ".brimtale-page-";

namespace {
// The name the engine writes in its folder; "%(ext)s" is the media's extension.
constexpr const char* EngineFileStem = "media";

std::int64_t ByteCount(const std::string& token)
{
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    if (end == token.c_str() || !std::isfinite(value) || value <= 0 || value > 9e18)
        return 0;
    return static_cast<std::int64_t>(value);
}

std::string NextToken(const std::string& text, std::size_t& pos)
{
    const std::size_t end = text.find(' ', pos);
    std::string token = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    return token;
}

std::string InDir(const std::string& dir, const std::string& name)
{
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The files the engine made: "media.<ext>" (parts and fragments have more dots).
// Only regular files count; there is one when all went well.
std::vector<std::string> EngineResultFiles(const std::string& workDir)
{
    std::vector<std::string> found;
    for (const std::string& name : FolderNames(workDir)) {
        const std::string stem = std::string(EngineFileStem) + ".";
        if (!StartsWith(name, stem) || name.find('.', stem.size()) != std::string::npos || name.size() == stem.size())
            continue;
        if (PathInfoOf(JoinPath(workDir, name)).Regular)
            found.push_back(JoinPath(workDir, name));
    }
    return found;
}

// The folder's own files: the hold, the kept page information, the cookies' copy.
bool IsHelperFile(const std::string& name)
{
    return name == EngineHoldFile || name == EnginePageInfoFile || name == EngineCookiesFile;
}

// The subtitle files the engine left beside its file: "media.LANG.EXT".
std::vector<std::string> SubtitleFiles(const std::string& workDir)
{
    std::vector<std::string> found;
    const std::string stem = std::string(EngineFileStem) + ".";
    for (const std::string& name : FolderNames(workDir)) {
        const std::size_t last = name.rfind('.');
        if (!StartsWith(name, stem) || last == std::string::npos || last <= stem.size())
            continue;
        const std::string ext = LowerAscii(name.substr(last + 1));
        if (ext != "srt" && ext != "vtt" && ext != "ass")
            continue;
        if (PathInfoOf(JoinPath(workDir, name)).Regular)
            found.push_back(JoinPath(workDir, name));
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Moves the engine's file to the output name with the file's extension; a
// taken name gets the next free variant. Never replaces a file.
std::string MoveResult(const std::string& resultFile, const std::string& outputFile)
{
    const std::string ext = ExtractFileExt(resultFile);  // ".mp4"
    const std::string dir = ExtractFileDir(outputFile);
    std::string name = ExtractFileName(outputFile);
    // A media extension is replaced; any other dot is part of the name ("Mr. Smith").
    const std::string old = LowerAscii(ExtractFileExt(name));
    if (!old.empty() && old.size() < name.size() && IsMediaExtension(old.substr(1)))
        name.resize(name.size() - old.size());
    std::string target = InDir(dir, name + ext);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (PathExists(target))
            target = GetUniqueFileName(target);
        if (target.empty())
            return {};
        if (RenameFileNoReplace(resultFile, target))
            return target;
        if (!PathExists(target))
            return {};  // not for want of a free name
    }
    return {};
}

std::string AbsoluteProgram(const std::string& path)
{
    if (path.empty() || IsAbsolutePath(path))
        return path;
    return ExpandFileName(path);
}
} // namespace

TEngineOptions EngineOptionsOf(const TDownloadJob& job)
{
    TEngineOptions options;
    options.Metadata = job.EngineMetadata;
    options.Subtitles = ParseSubtitleLanguages(job.EngineSubtitles).value_or("");
    options.EmbedSubtitles = job.EngineEmbedSubtitles;
    options.CookiesBrowser = ParseCookiesBrowser(job.CookiesBrowser).value_or("");
    options.CookiesFile = job.CookiesFile;
    options.RateLimit = job.RateLimit;
    options.Clip.Section = SectionFromValue(job.Section);
    options.Clip.SplitChapters = job.SplitChapters;
    SetSponsorFromValue(options.Clip, job.Sponsor);
    return options;
}

void SetEngineOptions(TDownloadJob& job, const TEngineOptions& options)
{
    job.EngineMetadata = options.Metadata;
    job.EngineSubtitles = options.Subtitles;
    job.EngineEmbedSubtitles = options.EmbedSubtitles;
    job.CookiesBrowser = options.CookiesBrowser;
    job.CookiesFile = options.CookiesFile;
    job.RateLimit = options.RateLimit;
    job.Section = options.Clip.Section ? SectionValue(*options.Clip.Section) : std::string();
    job.SplitChapters = options.Clip.SplitChapters;
    job.Sponsor = SponsorValue(options.Clip);
}

TEngineRequest EngineRequestFor(const std::string& url, const TEngineFormat& format, const TEngineOptions& options)
{
    TEngineRequest request;
    request.Url = url;
    request.Format = format;
    request.Options = options;
    request.Fragments = std::clamp(AppSettings.Connections, 1, ConnectionsLimit);
    const std::string ffmpeg = GetFfmpegPath();
    if (ffmpeg != FindExecutable("ffmpeg"))
        request.Ffmpeg = ffmpeg;
    return request;
}

TEngineRequest EngineRequestFor(const TDownloadJob& job)
{
    return EngineRequestFor(job.MediaUrl, {job.EngineFormat, job.EngineMerge}, EngineOptionsOf(job));
}

std::vector<std::string> EngineDownloadArgs(const TEngineRequest& request)
{
    std::vector<std::string> args = {
        "--ignore-config", "--no-playlist", "--newline", "--no-colors", "--no-mtime", "--socket-timeout", "30",
        "--progress-template",
        std::string("download:") + EngineProgressMark +
            "%(progress.status)s %(progress.downloaded_bytes)s %(progress.total_bytes)s "
            "%(progress.total_bytes_estimate)s %(info.format_id)s",
        "-o", std::string(EngineFileStem) + ".%(ext)s",
    };
    if (!request.Format.Selector.empty()) {
        args.push_back("-f");
        args.push_back(request.Format.Selector);
    }
    if (!request.Format.MergeFormat.empty()) {
        args.push_back("--merge-output-format");
        args.push_back(request.Format.MergeFormat);
    }
    if (!request.Ffmpeg.empty()) {
        args.push_back("--ffmpeg-location");
        args.push_back(AbsoluteProgram(request.Ffmpeg));
    }
    if (request.Fragments > 1) {
        args.push_back("--concurrent-fragments");
        args.push_back(std::to_string(request.Fragments));
    }
    const std::string ext = !request.Format.MergeFormat.empty() ? request.Format.MergeFormat : request.ExpectedExt;
    const std::vector<std::string> options = EngineOptionArgs(
        request.Options, request.EngineVersion, request.Options.CookiesFile.empty() ? "" : EngineCookiesFile, ext);
    args.insert(args.end(), options.begin(), options.end());
    if (request.FromPageInfo) {
        // The engine reads the page information the look-up kept instead of the
        // page (the address below is then not read).
        args.push_back("--load-info-json");
        args.push_back(EnginePageInfoFile);
    }
    args.push_back("--");
    args.push_back(request.Url);
    return args;
}

TEngineLine ParseEngineLine(const std::string& line)
{
    TEngineLine parsed;
    if (StartsWith(line, EngineProgressMark)) {
        std::size_t pos = std::string(EngineProgressMark).size();
        const std::string status = NextToken(line, pos);
        if (status != "downloading" && status != "finished")
            return parsed;
        parsed.Kind = TEngineLine::TKind::Progress;
        parsed.Finished = status == "finished";
        parsed.Done = ByteCount(NextToken(line, pos));
        const std::int64_t exact = ByteCount(NextToken(line, pos));
        const std::int64_t estimate = ByteCount(NextToken(line, pos));
        parsed.Total = exact > 0 ? exact : estimate;
        parsed.Stream = line.substr(pos);
    } else if (StartsWith(line, "[Merger]")) {
        parsed.Kind = TEngineLine::TKind::Merging;
    } else if (StartsWith(line, "ERROR:")) {
        parsed.Kind = TEngineLine::TKind::Error;
        parsed.Text = Trim(line.substr(6));
    } else if (const std::string usage = EngineUsageError(line); !usage.empty()) {
        // The engine refused its command line ("yt-dlp: error: no such option").
        parsed.Kind = TEngineLine::TKind::Error;
        parsed.Text = usage;
    }
    return parsed;
}

void TEngineTally::Feed(const TEngineLine& line)
{
    switch (line.Kind) {
    case TEngineLine::TKind::Progress:
        if (line.Stream != stream_) {
            finished_ += current_;
            stream_ = line.Stream;
            current_ = 0;
            currentTotal_ = 0;
        }
        current_ = line.Done;
        currentTotal_ = line.Finished ? line.Done : (line.Total > 0 ? std::max(line.Total, line.Done) : 0);
        break;
    case TEngineLine::TKind::Merging:
        merging_ = true;
        break;
    case TEngineLine::TKind::Error:
        error_ = line.Text;
        break;
    case TEngineLine::TKind::Other:
        break;
    }
}


bool PrepareEngineWorkDir(const std::string& workDir)
{
    if (MakeFolder(workDir, 0700))
        return true;
    if (errno != EEXIST)
        return false;
    // What a stopped download left: the engine continues its partial files.
    return IsOwnFolder(workDir);
}

TEngineWorkDirHold::TEngineWorkDirHold(const std::string& workDir) : TFolderHold(workDir, EngineHoldFile) {}

bool EngineWorkDirIsEmpty(const std::string& workDir)
{
    for (const std::string& name : FolderNames(workDir))
        if (!IsHelperFile(name))
            return false;
    return true;
}

bool KeepPageInfo(const std::string& workDir, const std::string& json)
{
    const std::string path = InDir(workDir, EnginePageInfoFile);
    RemoveName(path);
    // What stays on disk holds no request cookies: the download gets them
    // again from the cookies the job names.
    const std::string kept = PageInfoWithoutCookies(json);
    return !kept.empty() && WritePrivateFile(path, kept);
}

bool EngineAddressExpired(const std::string& engineError)
{
    return engineError.find("HTTP Error 403") != std::string::npos ||
           engineError.find("HTTP Error 410") != std::string::npos;
}

std::vector<std::string> PartialFilesIn(const std::string& workDir)
{
    std::vector<std::string> files;
    if (!PathInfoOf(workDir).Folder)
        return files;
    for (const std::string& name : FolderNames(workDir))
        if (!IsHelperFile(name))
            files.push_back(JoinPath(workDir, name));
    return files;
}

void RemoveEngineWorkDir(const std::string& workDir)
{
    if (!PathInfoOf(workDir).Folder)
        return;
    RemoveFolderTree(workDir);
}

namespace {
// The extension the file will have when the engine chooses by itself: the one
// in the kept page information.
std::string PageInfoExt(const std::string& path)
{
    const TWholeFile info = ReadWholeFile(path, PageInfoKeptBytes, TLinkAtName::Refuse);
    return info.Ok() ? ParsePageInfo(info.Text).Ext : std::string();
}

// Moves the subtitle files beside the video: "NAME.LANG.srt" for "NAME.mp4",
// never over a file.
std::vector<std::string> MoveSubtitles(const std::string& workDir, const std::string& video)
{
    std::vector<std::string> moved;
    const std::string name = ExtractFileName(video);
    const std::string ext = ExtractFileExt(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    for (const std::string& file : SubtitleFiles(workDir)) {
        const std::string tail = ExtractFileName(file).substr(std::string(EngineFileStem).size());  // ".en.srt"
        std::string target = InDir(ExtractFileDir(video), stem + tail);
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (PathExists(target))
                target = GetUniqueFileName(target);
            if (target.empty() || RenameFileNoReplace(file, target) || !PathExists(target))
                break;
        }
        if (!target.empty() && FileExists(target) && !PathExists(file)) {
            SetOrdinaryFileMode(target);
            moved.push_back(target);
        }
    }
    return moved;
}
} // namespace

namespace {
using Clock = std::chrono::steady_clock;

// How one run of the engine ended.
struct TEngineOutcome {
    TEngineTally Tally;
    std::uint32_t ExitCode = 1;
    bool Started = false;  // false: Error says why it could not be
    bool Stopped = false;  // shouldStop said so
    bool Stalled = false;  // it printed nothing for EngineStallSeconds
    bool SplitChapters = false;  // it was asked for one file per chapter
    std::string Error;
};

// Runs the engine once in workDir (the folder may be renamed while it runs:
// the engine follows it). onLine sees every line before it is counted and
// ends the run by returning false; the engine and all it started (a merging
// ffmpeg too) are ended then, as when shouldStop says so.
TEngineOutcome RunEngineOnce(const TEngineChoice& choice, const std::vector<std::string>& args,
                             const std::string& workDir, const std::function<bool(const std::string&)>& onLine,
                             const std::function<void(const TEngineTally&)>& onProgress,
                             const std::function<bool()>& shouldStop)
{
    TEngineOutcome outcome;
    Clock::time_point lastLine = Clock::now();
    Clock::time_point endedAt{};
    int enginePid = 0;
    const auto end = [&](int pid, Clock::time_point now) {
        endedAt = now;
        EndProcessGroup(pid);
    };
    try {
        outcome.ExitCode = RunConsoleApp(
            AbsoluteProgram(choice.Path), EngineRunArgs(choice, args), nullptr,
            [&](int pid, const std::string& text) {
                enginePid = pid;
                lastLine = Clock::now();
                if (endedAt != Clock::time_point{})
                    return;
                if (onLine && !onLine(text)) {
                    end(pid, lastLine);
                    return;
                }
                const TEngineLine line = ParseEngineLine(text);
                outcome.Tally.Feed(line);
                if (line.Kind != TEngineLine::TKind::Other && onProgress)
                    onProgress(outcome.Tally);
            },
            TLineEndRule::LoneLfCompletes,
            [&](int pid) {
                enginePid = pid;
                const Clock::time_point now = Clock::now();
                if (endedAt == Clock::time_point{}) {
                    const bool stop = shouldStop && shouldStop();
                    if (stop || now - lastLine > std::chrono::seconds(EngineStallSeconds)) {
                        outcome.Stopped = stop;
                        outcome.Stalled = !stop;
                        end(pid, now);
                    }
                } else if (now - endedAt > std::chrono::seconds(3)) {
                    EndProcessGroup(pid, true);  // still there: no more asking
                }
            },
            workDir);
    } catch (const EConsoleError& e) {
        outcome.Error = e.what();
        return outcome;
    }
    outcome.Started = true;
    // What the engine started (an ffmpeg that merges or downloads for it) may
    // still be on its way out: nothing of it may touch the folder afterwards.
    WaitForProcessGroupEnd(enginePid, std::chrono::seconds(3));
    return outcome;
}

// A folder the engine left empty goes; one with partial files stays for the
// next try (or for the question whether to delete them).
void LeaveWorkDir(const std::string& workDir)
{
    if (!EngineWorkDirIsEmpty(workDir))
        return;
    for (const char* helper : {EngineCookiesFile, EnginePageInfoFile, EngineHoldFile})
        RemoveName(InDir(workDir, helper));
    RemoveEmptyFolder(workDir);
}

// After the engine's run: the one file it made gets the output name, or the
// run says why not.
void TakeEngineResult(TEngineRun& run, const TEngineOutcome& outcome, const std::string& outputFile)
{
    const std::string& workDir = run.WorkDir;
    if (outcome.Stopped) {
        run.Stopped = true;
        LeaveWorkDir(workDir);
        return;
    }
    if (outcome.Stalled || outcome.ExitCode != 0) {
        run.Failure = outcome.Stalled ? TEngineFailure::Stalled : TEngineFailure::EngineFailed;
        run.Error = outcome.Stalled ? outcome.Tally.Error() : EngineFailureReason(outcome.Tally.Error(), outcome.ExitCode);
        run.WantsSignIn = !outcome.Stalled && EngineWantsSignIn(run.Error);
        LeaveWorkDir(workDir);
        return;
    }
    const std::vector<std::string> results = EngineResultFiles(workDir);
    if (results.size() != 1) {
        // Never a guess between two files.
        run.Failure = results.empty() ? TEngineFailure::NoResult : TEngineFailure::SeveralResults;
        LeaveWorkDir(workDir);
        return;
    }
    // Only a media or subtitle file is taken: whatever else the engine made (a
    // desktop entry, a script) goes.
    if (!IsEngineResultExtension(ExtractFileExt(results.front()))) {
        run.Failure = TEngineFailure::NotMedia;
        run.Error = ExtractFileName(results.front());
        RemoveName(results.front());
        LeaveWorkDir(workDir);
        return;
    }
    // The engine's file can't be much larger than what it downloaded (the
    // streams are joined, not grown): anything beyond is not this job's file.
    const std::int64_t size = FileSizeOf(results.front());
    const std::int64_t done = outcome.Tally.Done();
    if (done > 0 && size > done + done / 4 + (1 << 20)) {
        run.Failure = TEngineFailure::TooLarge;
        return;
    }
    // The user's ordinary mode, whatever the engine gave its file.
    SetOrdinaryFileMode(results.front());
    run.OutputFile = MoveResult(results.front(), outputFile);
    run.Ok = !run.OutputFile.empty();
    if (run.Ok) {
        run.Subtitles = MoveSubtitles(workDir, run.OutputFile);
        if (outcome.SplitChapters)
            run.Chapters = MoveChapterFiles(workDir, run.OutputFile);
        RemoveEngineWorkDir(workDir);
    } else {
        run.Failure = TEngineFailure::NotMoved;
    }
}

// The cookies go as a copy: the engine writes its file back. The copy goes
// when the run ends, however it ends (wherever its folder is by then).
class TCookiesCopy {
public:
    explicit TCookiesCopy(const std::string& workDir) : workDir_(workDir) { RemoveName(Path()); }
    ~TCookiesCopy() { RemoveName(Path()); }
    TCookiesCopy(const TCookiesCopy&) = delete;
    TCookiesCopy& operator=(const TCookiesCopy&) = delete;
    bool Make(const std::string& from) { return from.empty() || CopyCookiesFile(from, Path()); }
    void Moved(const std::string& workDir) { workDir_ = workDir; }
private:
    std::string Path() const { return InDir(workDir_, EngineCookiesFile); }
    std::string workDir_;
};
} // namespace

TEngineRun RunEngineDownload(const TEngineRequest& given, const std::string& outputFile,
                             const std::function<void(const TEngineTally&)>& onProgress,
                             const std::function<bool()>& shouldStop, bool continuing)
{
    TEngineRun run;
    const TEngineChoice choice = ChooseEngine();
    if (AbsoluteProgram(choice.Path).empty()) {
        run.Failure = TEngineFailure::NoEngine;
        return run;
    }
    const std::string workDir = EngineWorkDir(outputFile);
    run.WorkDir = workDir;
    if (!PrepareEngineWorkDir(workDir)) {
        run.Failure = TEngineFailure::NoFolder;
        return run;
    }
    const TEngineWorkDirHold hold(workDir);
    if (hold.Result() != TEngineWorkDirHold::TResult::Held) {
        // Another download writes there: its files are not touched.
        run.Failure = hold.Result() == TEngineWorkDirHold::TResult::Busy ? TEngineFailure::Busy : TEngineFailure::NoFolder;
        return run;
    }
    if (!continuing && !EngineWorkDirIsEmpty(workDir)) {
        // What an earlier download left is neither continued nor delivered.
        run.Failure = TEngineFailure::StaleFolder;
        return run;
    }

    TEngineRequest request = given;
    if (request.EngineVersion.empty())
        request.EngineVersion = choice.Version;
    const std::string pageInfo = InDir(workDir, EnginePageInfoFile);
    request.FromPageInfo = PathInfoOf(pageInfo).Regular;
    TCookiesCopy cookies(workDir);
    if (!cookies.Make(request.Options.CookiesFile)) {
        run.Failure = TEngineFailure::NoCookies;
        return run;
    }
    // The cover picture only goes into a container that takes one: with the
    // engine's own choice that is the kept page information's.
    if (request.ExpectedExt.empty() && request.Format.Selector.empty() && request.FromPageInfo)
        request.ExpectedExt = PageInfoExt(pageInfo);

    TEngineOutcome outcome = RunEngineOnce(choice, EngineDownloadArgs(request), workDir, {}, onProgress, shouldStop);
    if (outcome.Started && !outcome.Stopped && !outcome.Stalled && outcome.ExitCode != 0 && request.FromPageInfo &&
        EngineAddressExpired(outcome.Tally.Error())) {
        // The media addresses the look-up found have expired: the page is read again.
        RemoveName(pageInfo);
        request.FromPageInfo = false;
        run.PageReadAgain = true;
        outcome = RunEngineOnce(choice, EngineDownloadArgs(request), workDir, {}, onProgress, shouldStop);
    }
    if (outcome.Started && !outcome.Stopped && !outcome.Stalled && outcome.ExitCode != 0 &&
        request.Options.Clip.Sponsor != TSponsorMode::Off && IsSponsorServiceError(outcome.Tally.Error())) {
        // The segment service is on the internet and may fail: the video
        // still comes, whole, and the user is told.
        LogEngineReason(request.Url, outcome.Tally.Error());
        request.Options.Clip = WithoutSponsor(request.Options.Clip);
        run.SponsorFailed = true;
        outcome = RunEngineOnce(choice, EngineDownloadArgs(request), workDir, {}, onProgress, shouldStop);
    }
    outcome.SplitChapters = request.Options.Clip.SplitChapters;
    if (!outcome.Started) {
        run.Failure = TEngineFailure::EngineFailed;
        run.Error = outcome.Error;
        return run;
    }
    TakeEngineResult(run, outcome, outputFile);
    if (run.Failure == TEngineFailure::EngineFailed)
        LogEngineReason(request.Url, run.Error);
    return run;
}

void ClearStaleEngineFolders(const std::string& directory)
{
    RemoveStaleFolders(directory, EnginePageFolderPrefix, EngineHoldFile);
    // A stopped job's folder stays for its partial files, not for the copy
    // of the user's cookies.
    ForEachStaleFolder(directory, ".", EngineHoldFile, [](const std::string& dir) {
        if (dir.ends_with(".parts"))
            RemoveName(InDir(dir, EngineCookiesFile));
    });
}

TEngineRun RunEngineReadingPage(const TEngineRequest& given, const std::string& directory, int lookUpSeconds,
                                const TEngineNamer& name, const std::function<void(const TEngineTally&)>& onProgress,
                                const std::function<bool()>& shouldStop)
{
    TEngineRun run;
    ClearStaleEngineFolders(directory);
    const TEngineChoice choice = ChooseEngine();
    if (AbsoluteProgram(choice.Path).empty()) {
        run.Failure = TEngineFailure::NoEngine;
        return run;
    }
    // A folder of this run's own (private, as mkdtemp makes it) until the page
    // gives the name.
    const std::string pattern = MakeUniquePrivateFolder(directory, EnginePageFolderPrefix);
    if (pattern.empty()) {
        run.Failure = TEngineFailure::NoFolder;
        run.WorkDir = directory;
        return run;
    }
    run.WorkDir = pattern;
    // The hold goes along should the folder take the job's place at the end.
    const TEngineWorkDirHold hold(run.WorkDir);
    TCookiesCopy cookies(run.WorkDir);
    TEngineRequest request = given;
    if (request.EngineVersion.empty())
        request.EngineVersion = choice.Version;
    request.FromPageInfo = false;
    if (hold.Result() != TEngineWorkDirHold::TResult::Held || !cookies.Make(request.Options.CookiesFile)) {
        run.Failure = hold.Result() != TEngineWorkDirHold::TResult::Held ? TEngineFailure::NoFolder
                                                                          : TEngineFailure::NoCookies;
        RemoveEngineWorkDir(run.WorkDir);
        return run;
    }
    std::vector<std::string> args = EngineDownloadArgs(request);
    // The engine writes the page information before it downloads (the
    // arguments end with "--" and the address).
    const std::string info = EnginePageInfoFile;  // ".page.info.json"
    const std::string infoTemplate = info.substr(0, info.size() - std::string(".info.json").size());
    args.insert(args.end() - 2, {"--write-info-json", "-o", "infojson:" + infoTemplate});

    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(lookUpSeconds);
    bool infoWritten = false;
    bool timedOut = false;
    std::string outputFile;
    const auto takeName = [&]() -> bool {
        TWholeFile written = ReadWholeFile(InDir(run.WorkDir, EnginePageInfoFile), PageInfoMaxBytes, TLinkAtName::Refuse);
        if (!written.Ok())
            return false;
        // The engine's file holds the request's cookies: it is not kept.
        RemoveName(InDir(run.WorkDir, EnginePageInfoFile));
        const TPageInfo page = PageInfoFromJson(std::move(written.Text));
        if (!page.Found)
            return false;
        const std::optional<TEngineNaming> naming = name(page);
        if (!naming || naming->OutputFile.empty())
            return false;
        // The job's download would run the engine just so; otherwise it runs
        // the engine itself, from the page information.
        TEngineRequest job = naming->Request;
        job.EngineVersion = request.EngineVersion;
        job.FromPageInfo = false;
        if (job.ExpectedExt.empty() && job.Format.Selector.empty())
            job.ExpectedExt = page.Ext;
        if (EngineDownloadArgs(job) != EngineDownloadArgs(request)) {
            run.HandedOver = true;
            return false;
        }
        outputFile = naming->OutputFile;
        return true;
    };
    TEngineOutcome outcome = RunEngineOnce(
        choice, args, run.WorkDir,
        [&](const std::string& text) {
            if (run.Named)
                return true;
            // The line after the one that announces the page information comes
            // when its file is whole; a download never starts before it.
            if (!infoWritten) {
                infoWritten = text.rfind("[info] Writing video metadata as JSON", 0) == 0;
                return infoWritten || (text.rfind("[download]", 0) != 0 && text.rfind(EngineProgressMark, 0) != 0);
            }
            run.Named = takeName();
            return run.Named;
        },
        onProgress,
        [&] {
            if (shouldStop && shouldStop())
                return true;
            timedOut = !run.Named && Clock::now() >= giveUp;
            return timedOut;
        });
    outcome.SplitChapters = request.Options.Clip.SplitChapters;
    if (!outcome.Started) {
        run.Failure = TEngineFailure::EngineFailed;
        run.Error = outcome.Error;
    } else if (run.Named) {
        // The engine stays in its folder while it runs: it names some paths
        // by the folder's full path. Only now does the folder take the place
        // of the job's reserved one (empty but for what the naming kept), when
        // it keeps partial files or a file that could not be given its name.
        const std::string reserved = EngineWorkDir(outputFile);
        TakeEngineResult(run, outcome, outputFile);
        if (run.Failure == TEngineFailure::EngineFailed)
            LogEngineReason(request.Url, run.Error);
        RemoveName(InDir(reserved, EnginePageInfoFile));
        // A folder the result took along is gone, and the rename fails.
        if (MoveFolderOntoEmpty(run.WorkDir, reserved)) {
            run.WorkDir = reserved;
            cookies.Moved(reserved);
        } else {
            RemoveEmptyFolder(reserved);
        }
        return run;
    } else {
        run.Stopped = outcome.Stopped && !timedOut;
        run.TimedOut = timedOut;
        run.Failure = outcome.Stalled ? TEngineFailure::Stalled : TEngineFailure::EngineFailed;
        run.Error = outcome.Stalled ? outcome.Tally.Error() : EngineFailureReason(outcome.Tally.Error(), outcome.ExitCode);
    }
    // Nothing of this run is kept: the job starts anew whichever road it takes.
    RemoveEngineWorkDir(run.WorkDir);
    return run;
}

std::string EngineRunMessage(const TEngineRun& run, bool polish)
{
    const std::string& dir = run.WorkDir;
    const std::string reason = run.Error.empty() ? std::string() : ": " + run.Error;
    switch (run.Failure) {
    case TEngineFailure::None:
        return {};
    case TEngineFailure::NoEngine:
        return polish ? "Nie znaleziono programu yt-dlp" : "Could not find file yt-dlp";
    case TEngineFailure::NoFolder:
        return (polish ? "Nie można utworzyć folderu " : "Could not create the folder ") + dir;
    case TEngineFailure::Busy:
        return (polish ? "Inne pobieranie zapisuje już ten plik (" : "Another download is writing this file (") + dir + ")";
    case TEngineFailure::StaleFolder:
        return (polish ? "Folder zawiera pliki wcześniejszego pobierania: " : "The folder holds files of an earlier download: ") + dir;
    case TEngineFailure::EngineFailed: {
        // What the server said, in the program's words; the engine's own
        // reason only when it says nothing the program knows.
        const std::string known = AddressProblemMessage(0, run.Error, polish);
        return (polish ? "Pobieranie nie powiodło się" : "Download failed") + (known.empty() ? reason : ": " + known);
    }
    case TEngineFailure::Stalled:
        return polish ? "Silnik stron nie wypisał niczego przez 2 minuty" : "The engine printed nothing for 2 minutes";
    case TEngineFailure::NoResult:
        return polish ? "Silnik stron nie zostawił żadnego pliku" : "The engine left no file";
    case TEngineFailure::SeveralResults:
        return (polish ? "Silnik stron zostawił kilka plików zamiast jednego: " : "The engine left several files instead of one: ") + dir;
    case TEngineFailure::TooLarge:
        return (polish ? "Plik jest dużo większy niż pobrane dane; pozostaje w " : "The file is far larger than what was downloaded; it stays in ") + dir;
    case TEngineFailure::NotMoved:
        return (polish ? "Nie można nadać plikowi nazwy; pozostaje w " : "The file could not be given its name; it stays in ") + dir;
    case TEngineFailure::NotMedia:
        return (polish ? "Silnik stron utworzył plik, który nie jest filmem ani dźwiękiem: "
                       : "The engine made a file that is no media: ") + run.Error;
    case TEngineFailure::NoCookies:
        return polish ? "Nie można odczytać pliku ciasteczek" : "The cookies file can't be read";
    }
    return {};
}

