// SPDX-License-Identifier: GPL-3.0-or-later
// brimtale-cli: the road of the new-download dialog and the download window,
// from a terminal. Built from the core libraries only (no windows): the
// planner makes each job, CliRun downloads and converts it.

#include "programs/CliClip.h"
#include "programs/CliEngine.h"
#include "programs/CliFollow.h"
#include "programs/CliOptions.h"
#include "programs/CliRun.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/Texts.h"
#include "base/ZQ_Strings.h"
#include "convert/EncoderCheck.h"
#include "convert/EncoderProfiles.h"
#include "engine/EngineOptions.h"
#include "net/ZQ_Internet.h"
#include "plan/JobPlanner.h"
#include "plan/ListJobs.h"
#include "system/Interrupts.h"
#include "system/PrivateFolders.h"
#include "system/ZQ_System.h"
#include "system/ZQ_FileSystem.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

// Each look-up (title, formats, resolving, size) ends by this limit.
constexpr std::chrono::seconds LookUpLimit{20};
constexpr int LookUpSeconds = static_cast<int>(LookUpLimit.count());

void OnInterrupt()
{
    Interrupted.store(true);
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
        page = LookUpFormats(url);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!page.Found) {
        Error(progress, PageProblemText(page, polish) + " " + input);
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
    const TVideoSite site = SiteOfAddress(url);
    if (site == vsNone || site == vsLocalFile) {
        Error(progress, std::string(AppSettings.LangPolish ? "to nie jest adres strony: " : "not a page address: ") +
                            input);
        return ExitFailed;
    }
    if (site != vsYouTube)
        return ListEngineFormats(url, input, progress);
    TYouTubeOffer offer;
    {
        const TNetworkStepScope step(LookUpLimit, &Interrupted);
        offer = ProbeYouTubeOffer(LookUpAddress(url));
    }
    if (Interrupted)
        return Interruption(progress, {}, AppSettings.LangPolish);
    for (std::size_t i = 0; i < YouTubeFormats.size(); ++i)
        if (offer.Offered[i])
            std::printf("%s\t%s\n", YouTubeFormats[i].SettingsValue, YouTubeFormats[i].Caption);
    std::fflush(stdout);
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

// A page for the engine is read by the engine run that downloads it (see
// TEnginePagePlanner). Nothing when the page takes the usual road (a look-up,
// then the download): a media file, a page the engine could not read (the
// look-up says why, as ever), or a job whose download differs.
std::optional<int> RunEnginePage(const TGetRequest& given, const TEncoderProfile* profile, TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    TEnginePagePlanner planner(given, profile, polish);
    const bool takes = planner.TakesPage(LookUpSeconds, &Interrupted);
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!takes)
        return std::nullopt;
    progress.Start();
    const TEngineRun run = RunEngineReadingPage(planner.Request(), planner.Directory(), LookUpSeconds,
                                                planner.Namer(), EngineProgress(progress, polish),
                                                [] { return Interrupted.load(); });
    if (planner.Named() && (run.Named || run.HandedOver)) {
        TDownloadJob& job = *planner.Named();
        const int downloaded = run.Named ? EngineDownloaded(job, run, progress, polish) : Download(job, progress, polish);
        return downloaded != ExitOk ? downloaded : FinishJob(job, false, progress, polish);
    }
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!planner.Refusal().empty()) {
        Error(progress, planner.Refusal());
        return ExitFailed;
    }
    if (run.TimedOut)
        planner.KeepTimedOut();
    return std::nullopt;
}

int RunOne(const std::string& input, const TCliOptions& options, const TEncoderProfile* profile, int formatNumber,
           const std::optional<TFormatChoice>& choice, const TEngineOptions& engineOptions, TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    TGetRequest request = CliRequest(options, profile, formatNumber, choice, engineOptions);
    request.Url = input;
    request.Directory = options.Directory.empty() ? AppSettings.LastDir : options.Directory;
    request.FileName = options.OutputName;
    if (SiteOfAddress(Trim(input)) == vsWebPage) {
        if (const std::optional<int> done = RunEnginePage(request, profile, progress))
            return *done;
    }

    TJobPlanner planner(std::move(request), polish);
    const bool planned = planner.Run(formatNumber, LookUpSeconds, &Interrupted);
    if (Interrupted)
        return Interruption(progress, {}, polish);
    if (!planner.FittedSection().empty())
        progress.Say((polish ? "Koniec części to koniec filmu: " : "The part ends where the video does: ") +
                     planner.FittedSection());
    if (!planned) {
        const std::string& message = planner.Message();
        if (planner.Plan().Message.empty() && !planner.Media().Message.empty()) {
            Error(progress, message.find(input) == std::string::npos ? message + " " + input : message);
            if (planner.OfferEngineUpdate())
                Error(progress, EngineUpdateHint(polish));
        } else if (!planner.Plan().Message.empty()) {
            Error(progress, message + (planner.Plan().Site == vsNone ? ": " + input : std::string()));
        } else {
            Error(progress, message + " " + input);
        }
        return ExitFailed;
    }
    return RunJob(planner.Job(), progress, polish);
}

// --playlist: a page that lists several videos gives every one of them, in
// order; any other input goes the road of one.
int RunList(const std::string& input, const TCliOptions& options, const TEncoderProfile* profile, int formatNumber,
            const std::optional<TFormatChoice>& choice, const TEngineOptions& engineOptions, TProgress& progress)
{
    const bool polish = AppSettings.LangPolish;
    const std::string url = Trim(input);
    const TVideoSite site = SiteOfAddress(url);
    if (site == vsNone || site == vsLocalFile)
        return RunOne(input, options, profile, formatNumber, choice, engineOptions, progress);
    TPageList list;
    {
        const TNetworkStepScope step(std::chrono::seconds(PageLookUpSeconds), &Interrupted);
        list = ReadPageList(url);
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
    CatchInterrupts(OnInterrupt);
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
        return ReadPageList(url);
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
    UseUtf8Terminal();
    std::vector<std::string> args = ProgramArguments(argc, argv);
    if (!args.empty())
        args.erase(args.begin());
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
    if (options.Connections > 0)
        AppSettings.Connections = options.Connections;
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
        for (const std::optional<TTimeSection>& section :
             SectionRuns(options.ListFormats ? std::vector<TTimeSection>{} : sections)) {
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
