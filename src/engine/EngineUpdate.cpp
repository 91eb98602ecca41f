// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineUpdate.h"

#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "net/BoundedFetch.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "engine/EngineChoice.h"
#include "engine/EngineFolder.h"
#include "engine/EngineOptions.h"
#include "engine/PageEngine.h"
#include "engine/ZipEntry.h"
#include "system/FileDescriptors.h"
#include "system/Platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

namespace {
// The engine's signing key, as shipped with the program.
constexpr const char* EngineKeyFingerprint = "AC0CBBE6848D6A873464AF4E57CF65933B5A7581";
constexpr const char* EngineKeyFile = "yt-dlp-signing-key.asc";

constexpr std::int64_t SumsMaxBytes = 256 * 1024;
constexpr std::int64_t SignatureMaxBytes = 64 * 1024;
constexpr std::int64_t EngineMaxBytes = 256LL * 1024 * 1024;
constexpr std::int64_t RuntimeZipMaxBytes = 512LL * 1024 * 1024;
constexpr std::int64_t RuntimeMaxBytes = 1024LL * 1024 * 1024;
constexpr std::size_t KeyMaxBytes = 1024 * 1024;

TEngineUpdateResult Failed(TUpdateFailure failure, std::string detail = {})
{
    TEngineUpdateResult r;
    r.Outcome = TUpdateOutcome::Failed;
    r.Failure = failure;
    r.Detail = Utf8Cut(Trim(ReplaceAll(ReplaceAll(detail, "\r", " "), "\n", " ")), 200);
    return r;
}

TEngineUpdateResult Cancelled()
{
    TEngineUpdateResult r;
    r.Outcome = TUpdateOutcome::Cancelled;
    return r;
}

// A file descriptor closed on every path.
class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1)
    {
        CloseFile(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The own copy of the engine in engine/ ("yt-dlp", "yt-dlp.exe").
const std::string EngineName = std::string("yt-dlp") + ExecutableSuffix;

// Opens engine/ and takes its lock: one update at a time, across threads and
// processes. When engine/ was replaced while this waited, the lock held is
// that of a folder no longer in use: the new engine/ is opened and locked in
// turn. False with busy set when another update runs and options say not to
// wait; false with an empty error when cancelled.
bool OpenAndLockEngineDir(TEngineFolder& dir, const TEngineUpdateOptions& options, bool& busy, std::string& error)
{
    busy = false;
    bool told = false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (!dir.Open(error))
            return false;
        for (TEngineFolder::TLock lock = dir.TryLock(); lock != TEngineFolder::TLock::Held; lock = dir.TryLock()) {
            if (lock == TEngineFolder::TLock::Failed) {
                error = "cannot lock " + OwnEngineDir();
                return false;
            }
            if (!options.WaitForOther) {
                busy = true;
                return false;
            }
            if (options.ShouldStop && options.ShouldStop()) {
                error.clear();
                return false;
            }
            if (!told && options.OnProgress)
                options.OnProgress(TUpdateStep::Waiting, 0, 0);
            told = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (dir.StillThere())
            return true;
    }
    error = OwnEngineDir() + " keeps being replaced";
    return false;
}

// One fetch of an update from base; an address that would leave https is
// refused before anything is sent.
TFetchResult UpdateFetch(const std::string& base, const std::string& url, const TFetchLimits& limits,
                         const TFetchSink& sink, const TFetchProgress& progress, const std::function<bool()>& shouldStop)
{
    if (!UpdateMayUse(base, url)) {
        TFetchResult refused;
        refused.Error = "not an https address: " + url;
        return refused;
    }
    return BoundedFetch(url, limits, sink, progress, shouldStop);
}

TFetchResult UpdateFetchText(const std::string& base, const std::string& url, const TFetchLimits& limits,
                             std::string& out, const std::function<bool()>& shouldStop)
{
    out.clear();
    return UpdateFetch(
        base, url, limits,
        [&out](const char* data, std::size_t size) {
            out.append(data, size);
            return true;
        },
        {}, shouldStop);
}

// The release's tag from the "latest" address's redirect.
std::string LatestTag(const std::string& base, const std::string& repository, const TEngineUpdateOptions& options,
                      TEngineUpdateResult& failure)
{
    const std::string url = base + "/" + repository + "/releases/latest";
    std::string body;
    const TFetchResult fetched =
        UpdateFetchText(base, url, UpdateFetchLimits(TUpdateFetch::Latest, base, options), body, options.ShouldStop);
    if (fetched.Cancelled) {
        failure = Cancelled();
        return {};
    }
    if (!fetched.Ok) {
        failure = Failed(TUpdateFailure::Network, fetched.Error);
        return {};
    }
    // The release named over plain http is not taken from an https server.
    if (!UpdateMayUse(base, fetched.Location)) {
        failure = Failed(TUpdateFailure::NoRelease, "not an https address: " + fetched.Location);
        return {};
    }
    const std::string tag = TagFromReleaseAddress(fetched.Location);
    if (tag.empty())
        failure = Failed(TUpdateFailure::NoRelease, fetched.Location.empty() ? "no redirect" : fetched.Location);
    return tag;
}

TEngineUpdateResult FetchFailure(const TFetchResult& fetched)
{
    if (fetched.Cancelled)
        return Cancelled();
    if (fetched.Status >= 400 || fetched.Status == 0)
        return Failed(TUpdateFailure::Network, fetched.Error);
    return Failed(TUpdateFailure::Transfer, fetched.Error);
}

// Downloads into a new temporary file of the folder, hashing as it goes.
bool FetchToTemp(const std::string& base, const std::string& url, const TFetchLimits& limits, TEngineFolder& dir,
                 const std::string& prefix, const std::string& suffix, TUpdateStep step,
                 const TEngineUpdateOptions& options, std::string& name, std::string& hash,
                 TEngineUpdateResult& failure)
{
    TFd fd(dir.CreateTemp(prefix, suffix, name));
    if (fd.Get() < 0) {
        failure = Failed(TUpdateFailure::Folder, "cannot create a file in " + OwnEngineDir());
        return false;
    }
    TSha256 sha;
    const TFetchResult fetched = UpdateFetch(
        base, url, limits,
        [&](const char* data, std::size_t size) {
            sha.Add(data, size);
            return WriteAll(fd.Get(), data, size);
        },
        [&](std::int64_t done, std::int64_t total) {
            if (options.OnProgress)
                options.OnProgress(step, done, total);
        },
        options.ShouldStop);
    if (!fetched.Ok || !SyncFile(fd.Get())) {
        failure = fetched.Ok ? Failed(TUpdateFailure::Folder, "cannot write " + OwnEngineDir()) : FetchFailure(fetched);
        fd.Reset();
        dir.Remove(name);
        name.clear();
        return false;
    }
    hash = sha.Hex();
    return true;
}

// A fetched program tried before it is kept: what it printed for --version.
struct TTrialRun {
    std::string Printed;    // the first line, trimmed; empty when it failed
    std::string Error;      // its error output, or how it ended
    bool NoAnswer = false;  // still running when its time was up
    bool Cancelled = false;
};

TTrialRun TryProgram(const std::string& path, const TEngineUpdateOptions& options)
{
    TTrialRun trial;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(options.CheckSeconds);
    try {
        const TCapturedRun run = RunCaptured(path, {"--version"}, 4096, [&] {
            if (options.ShouldStop && options.ShouldStop()) {
                trial.Cancelled = true;
                return true;
            }
            if (std::chrono::steady_clock::now() < giveUp)
                return false;
            trial.NoAnswer = true;
            return true;
        });
        trial.Error = run.Err;
        if (run.ExitCode != 0 || run.Stopped || run.TooLong) {
            if (trial.Error.empty())
                trial.Error = "exit code " + std::to_string(run.ExitCode);
            return trial;
        }
        trial.Printed = Trim(run.Out.substr(0, run.Out.find('\n')));
    } catch (const EConsoleError& e) {
        trial.Error = e.what();
    }
    return trial;
}

// Why a trial that did not name the release failed.
TEngineUpdateResult TrialFailure(const TTrialRun& trial, const TEngineUpdateOptions& options)
{
    if (trial.Cancelled)
        return Cancelled();
    if (trial.NoAnswer)
        return Failed(TUpdateFailure::NoAnswer, "--version, " + std::to_string(options.CheckSeconds) + " s");
    if (trial.Printed.empty())
        return Failed(TUpdateFailure::DoesNotRun,
                      EngineErrorText(trial.Error).empty() ? trial.Error : EngineErrorText(trial.Error));
    return Failed(TUpdateFailure::WrongVersion, trial.Printed);
}

// The key file trusted, and whether it is the shipped one (whose fingerprint is checked).
std::string TrustedKeyFile(bool& shipped)
{
    const char* given = std::getenv("BRIMTALE_RELEASES_KEYRING");
    shipped = !(given && *given);
    if (!shipped)
        return given;
    for (const std::string& dir : {SharedDataDir(), AppDir, AppDir.empty() ? std::string() : AppDir + "/data"}) {
        if (dir.empty())
            continue;
        const std::string path = dir + "/" + EngineKeyFile;
        if (FileExists(path))
            return path;
    }
    return {};
}

// Checks the detached signature with gpgv against the trusted key alone.
TEngineUpdateResult VerifySignature(const std::string& checkDir, const TEngineUpdateOptions& options)
{
    bool shipped = true;
    const std::string keyFile = TrustedKeyFile(shipped);
    if (keyFile.empty())
        return Failed(TUpdateFailure::NoKey, EngineKeyFile);
    // A key named by the environment may be anything: /dev/zero or a FIFO is
    // turned down here, not read.
    const TWholeFile read = ReadWholeFile(keyFile, KeyMaxBytes);
    if (!read.Ok())
        return Failed(TUpdateFailure::NoKey, keyFile + ": " + FileReadText(read.Status));
    const std::string key = Dearmor(read.Text);
    if (key.empty())
        return Failed(TUpdateFailure::NoKey, keyFile);
    const std::string keyring = checkDir + "/trusted.gpg";
    if (!WritePrivateFile(keyring, key))
        return Failed(TUpdateFailure::Folder, "cannot write " + keyring);
    const std::string gpgv = FindExecutable("gpgv");
    if (gpgv.empty())
        return Failed(TUpdateFailure::NoVerifier, "gpgv");
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    TCapturedRun run;
    try {
        run = RunCaptured(gpgv,
                          {"--status-fd", "1", "--keyring", keyring, "--", checkDir + "/SHA2-256SUMS.sig",
                           checkDir + "/SHA2-256SUMS"},
                          256 * 1024, [&] {
                              return (options.ShouldStop && options.ShouldStop()) ||
                                     std::chrono::steady_clock::now() >= giveUp;
                          });
    } catch (const EConsoleError& e) {
        return Failed(TUpdateFailure::NoVerifier, e.what());
    }
    if (run.Stopped)
        return Cancelled();
    bool good = false;
    std::string primary;
    for (const std::string& line : SplitLines(run.Out)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.size() < 2 || w[0] != "[GNUPG:]")
            continue;
        if (w[1] == "BADSIG" || w[1] == "ERRSIG" || w[1] == "EXPKEYSIG" || w[1] == "REVKEYSIG")
            return Failed(w[1] == "ERRSIG" ? TUpdateFailure::WrongKey : TUpdateFailure::BadSignature, line);
        if (w[1] == "VALIDSIG" && w.size() >= 3) {
            good = true;
            primary = w.size() >= 12 ? w[11] : w[2];
        }
    }
    if (run.ExitCode != 0 || !good) {
        const std::string err = Trim(run.Err);
        return Failed(PosText("no public key", err) ? TUpdateFailure::WrongKey : TUpdateFailure::BadSignature,
                      err.substr(err.rfind('\n') == std::string::npos ? 0 : err.rfind('\n') + 1));
    }
    if (shipped && UpperAscii(primary) != EngineKeyFingerprint)
        return Failed(TUpdateFailure::WrongKey, primary);
    TEngineUpdateResult ok;
    ok.Outcome = TUpdateOutcome::Updated;
    return ok;
}

// Unpacks the "deno" file of the zip (a file of the folder) into a new
// temporary file of the folder.
bool UnpackRuntime(const std::string& zip, TEngineFolder& dir, std::string& name, TEngineUpdateResult& failure)
{
    const std::string runtime = std::string("deno") + ExecutableSuffix;
    // The zip whose hash was checked, read through the folder's own handle.
    const TFd zipFd(dir.OpenToRead(zip));
    if (zipFd.Get() < 0) {
        failure = Failed(TUpdateFailure::Folder, "cannot read " + zip);
        return false;
    }
    TFd fd;
    bool created = true;
    std::string error;
    const TZipEntryRead read = ReadZipEntry(
        zipFd.Get(), runtime, RuntimeMaxBytes,
        [&] {
            fd.Reset(dir.CreateTemp(".deno.new-", ExecutableSuffix, name));
            created = fd.Get() >= 0;
            return created;
        },
        [&](const char* data, std::size_t size) { return WriteAll(fd.Get(), data, size); }, error);
    if (!created) {
        failure = Failed(TUpdateFailure::Folder, "cannot create a file in " + OwnEngineDir());
        return false;
    }
    if (read == TZipEntryRead::NotThere) {
        failure = Failed(TUpdateFailure::Unpack, "no deno in the archive");
        return false;
    }
    if (read == TZipEntryRead::Broken && fd.Get() < 0) {
        failure = Failed(TUpdateFailure::Unpack, error);
        return false;
    }
    const bool synced = read == TZipEntryRead::Ok && SyncFile(fd.Get());
    fd.Reset();
    if (!synced || !dir.MakeExecutable(name)) {
        failure = Failed(TUpdateFailure::Unpack, read == TZipEntryRead::Broken ? error : "deno");
        dir.Remove(name);
        name.clear();
        return false;
    }
    return true;
}

// Fetches deno into engine/deno.
TEngineUpdateResult FetchRuntime(TEngineFolder& dir, const std::string& releases, const TEngineUpdateOptions& options)
{
    if (options.OnProgress)
        options.OnProgress(TUpdateStep::Runtime, 0, 0);
    TEngineUpdateResult failure;
    const std::string tag = LatestTag(releases, "denoland/deno", options, failure);
    auto note = [](const TEngineUpdateResult& r) { return r; };
    if (tag.empty())
        return note(failure);
    const std::string zipName = RuntimeZipName();
    if (zipName.empty())
        return note(Failed(TUpdateFailure::NoBuild, "deno"));
    const std::string base = releases + "/denoland/deno/releases/download/" + tag + "/";
    std::string sums;
    const TFetchResult sumFetched = UpdateFetchText(releases, base + zipName + ".sha256sum",
                                                    UpdateFetchLimits(TUpdateFetch::RuntimeSum, releases, options), sums,
                                                    options.ShouldStop);
    if (!sumFetched.Ok)
        return note(FetchFailure(sumFetched));
    std::istringstream words(sums);
    std::string listed;
    words >> listed;
    listed = LowerAscii(listed);
    if (listed.size() != 64)
        return note(Failed(TUpdateFailure::NotListed, zipName));
    std::string zipTemp, hash;
    if (!FetchToTemp(releases, base + zipName, UpdateFetchLimits(TUpdateFetch::RuntimeZip, releases, options), dir,
                     ".deno.zip-", "", TUpdateStep::Runtime, options, zipTemp, hash, failure))
        return note(failure);
    struct TZipGone {
        TEngineFolder& dir;
        std::string name;
        ~TZipGone() { dir.Remove(name); }
    } zipGone{dir, zipTemp};
    if (hash != listed)
        return note(Failed(TUpdateFailure::HashDiffers, zipName));
    std::string unpacked;
    if (!UnpackRuntime(zipTemp, dir, unpacked, failure))
        return note(failure);
    const TTrialRun trial = TryProgram(dir.PathOf(unpacked), options);
    const std::string want = "deno " + (tag.size() > 1 ? tag.substr(1) : tag);
    if (trial.Printed.compare(0, want.size(), want) != 0) {
        dir.Remove(unpacked);
        return note(TrialFailure(trial, options));
    }
    if (!dir.StillThere() || !dir.Rename(unpacked, std::string("deno") + ExecutableSuffix)) {
        dir.Remove(unpacked);
        return note(Failed(TUpdateFailure::Folder, "cannot rename into " + OwnEngineDir()));
    }
    dir.Sync();
    TEngineUpdateResult ok;
    ok.Outcome = TUpdateOutcome::Updated;
    return ok;
}

// The own copy before the last update, when there was one.
constexpr const char* PreviousName = "yt-dlp.previous";
// What was in use before the last update; while it is there, the update can be undone.
constexpr const char* BeforeName = "yt-dlp.before";
// The own copy the last Undo took away: kept aside, never chosen.
constexpr const char* UndoneName = "yt-dlp.undone";
constexpr std::size_t BeforeMaxBytes = 8 * 1024;

// The engine in use before an update, as engine/yt-dlp.before keeps it
// ("key=value" lines).
struct TEngineBefore {
    bool Kept = false;    // the own copy of then is engine/yt-dlp.previous
    std::string Source;   // "own", "beside", "path", "given"; empty: there was none
    std::string Path;
    std::string Version;
};

std::string OneLine(const std::string& text)
{
    return text.find_first_of("\r\n") == std::string::npos ? text : std::string();
}

std::string BeforeText(const TEngineBefore& before)
{
    return std::string("kept=") + (before.Kept ? "1" : "0") + "\nsource=" + before.Source + "\npath=" +
           OneLine(before.Path) + "\nversion=" + OneLine(before.Version) + "\n";
}

std::optional<TEngineBefore> ParseBefore(const std::string& text)
{
    TEngineBefore before;
    bool kept = false, source = false;
    for (const std::string& line : SplitLines(text)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "kept" && (value == "0" || value == "1")) {
            before.Kept = value == "1";
            kept = true;
        } else if (key == "source" &&
                   (value.empty() || value == "own" || value == "beside" || value == "path" || value == "given")) {
            before.Source = value;
            source = true;
        } else if (key == "path") {
            before.Path = value;
        } else if (key == "version") {
            before.Version = value;
        }
    }
    // The own copy in use then is the one kept.
    if (!kept || !source || (before.Source == "own" && !before.Kept))
        return std::nullopt;
    return before;
}

// The record of the folder open (a link there is not read).
std::optional<TEngineBefore> ReadBeforeAt(const TEngineFolder& dir)
{
    const TWholeFile read = ReadWholeFile(dir.PathOf(BeforeName), BeforeMaxBytes, TLinkAtName::Refuse);
    return read.Ok() ? ParseBefore(read.Text) : std::nullopt;
}

// Writes the record into a new temporary file of the folder; its name goes to name.
bool WriteBeforeTemp(TEngineFolder& dir, const TEngineBefore& before, std::string& name)
{
    TFd fd(dir.CreateTemp(".yt-dlp.before.new-", "", name));
    const std::string text = BeforeText(before);
    if (fd.Get() >= 0 && WriteAll(fd.Get(), text.data(), text.size()) && SyncFile(fd.Get()))
        return true;
    if (fd.Get() >= 0) {
        fd.Reset();
        dir.Remove(name);
    }
    name.clear();
    return false;
}

// A temporary file of the folder, gone on every path unless kept.
struct TTempGone {
    TEngineFolder& Dir;
    std::string Name;
    ~TTempGone()
    {
        if (!Name.empty())
            Dir.Remove(Name);
    }
};
} // namespace

std::string EngineRepository(TEngineChannel channel)
{
    return channel == TEngineChannel::Nightly ? "yt-dlp/yt-dlp-nightly-builds" : "yt-dlp/yt-dlp";
}

std::string ReleasesBase()
{
    const char* given = std::getenv("BRIMTALE_RELEASES_URL");
    std::string base = given && *given ? given : "https://github.com";
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

bool UpdateMayUse(const std::string& base, const std::string& url)
{
    return !StartsWithText(base, "https://") || StartsWithText(url, "https://");
}

TFetchLimits UpdateFetchLimits(TUpdateFetch what, const std::string& base, const TEngineUpdateOptions& options)
{
    TFetchLimits limits;
    limits.StallSeconds = options.StallSeconds;
    // GitHub sends its downloads on to another host: over https, and only there.
    limits.RedirectsHttpsOnly = StartsWithText(base, "https://");
    switch (what) {
    case TUpdateFetch::Latest:
        limits.FollowRedirects = false;  // the redirect names the release
        limits.MaxBytes = 1024 * 1024;
        limits.TotalSeconds = 120;
        break;
    // The lists are small: they have a minute, not the half hour of a program.
    case TUpdateFetch::Sums:
        limits.MaxBytes = SumsMaxBytes;
        limits.TotalSeconds = options.ListSeconds;
        break;
    case TUpdateFetch::Signature:
        limits.MaxBytes = SignatureMaxBytes;
        limits.TotalSeconds = options.ListSeconds;
        break;
    case TUpdateFetch::Program:
        limits.MaxBytes = EngineMaxBytes;
        break;
    case TUpdateFetch::RuntimeSum:
        limits.MaxBytes = 4096;
        limits.TotalSeconds = options.ListSeconds;
        break;
    case TUpdateFetch::RuntimeZip:
        limits.MaxBytes = RuntimeZipMaxBytes;
        break;
    }
    return limits;
}

TEngineUpdateResult UpdateEngine(const TEngineUpdateOptions& options)
{
    std::string error;
    TEngineFolder dir;
    bool busy = false;
    if (!OpenAndLockEngineDir(dir, options, busy, error)) {
        if (busy) {
            TEngineUpdateResult r;
            r.Outcome = TUpdateOutcome::Busy;
            return r;
        }
        return error.empty() ? Cancelled() : Failed(TUpdateFailure::Folder, error);
    }
    auto step = [&](TUpdateStep s) {
        if (options.OnProgress)
            options.OnProgress(s, 0, 0);
    };

    step(TUpdateStep::Looking);
    // The base is read once: the whole update comes from where it began.
    const std::string releases = ReleasesBase();
    TEngineUpdateResult result;
    const std::string tag = LatestTag(releases, EngineRepository(options.Channel), options, result);
    if (tag.empty())
        return result;
    const std::optional<TEngineVersion> release = ParseEngineVersion(tag);
    if (!release)
        return Failed(TUpdateFailure::NoRelease, tag);
    ForgetProgramVersions();
    const TEngineChoice inUse = ChooseEngine();
    const std::optional<TEngineVersion> current = ParseEngineVersion(inUse.Version);

    const std::string engineDir = OwnEngineDir();
    // The list, its signature and the key are checked in a private folder of
    // the temporary folder: nothing of the check is ever written into engine/.
    const TPrivateTempDir check;
    const std::string& checkDir = check.Path();
    if (checkDir.empty())
        return Failed(TUpdateFailure::Folder, "cannot create a temporary folder");

    if (current && *current >= *release) {
        result = TEngineUpdateResult{};
        result.Outcome = TUpdateOutcome::AlreadyNewest;
        result.Version = inUse.Version;
    } else {
        // The list of hashes and its signature.
        const std::string base = releases + "/" + EngineRepository(options.Channel) + "/releases/download/" + tag + "/";
        std::string sums, signature;
        step(TUpdateStep::Sums);
        // The two share one deadline: the signature gets what the list left.
        const auto listsEnd = std::chrono::steady_clock::now() + std::chrono::seconds(options.ListSeconds);
        TFetchLimits limits = UpdateFetchLimits(TUpdateFetch::Sums, releases, options);
        limits.Deadline = listsEnd;
        TFetchResult fetched = UpdateFetchText(releases, base + "SHA2-256SUMS", limits, sums, options.ShouldStop);
        if (!fetched.Ok)
            return FetchFailure(fetched);
        limits = UpdateFetchLimits(TUpdateFetch::Signature, releases, options);
        limits.Deadline = listsEnd;
        fetched = UpdateFetchText(releases, base + "SHA2-256SUMS.sig", limits, signature, options.ShouldStop);
        if (!fetched.Ok)
            return FetchFailure(fetched);
        if (!WritePrivateFile(checkDir + "/SHA2-256SUMS", sums) ||
            !WritePrivateFile(checkDir + "/SHA2-256SUMS.sig", signature))
            return Failed(TUpdateFailure::Folder, "cannot write " + checkDir);
        step(TUpdateStep::Signature);
        if (TEngineUpdateResult verified = VerifySignature(checkDir, options);
            verified.Outcome != TUpdateOutcome::Updated)
            return verified;
        const std::string name = EngineFileName();
        const std::string listed = ListedHash(sums, name);
        if (listed.empty())
            return Failed(TUpdateFailure::NotListed, name);

        // The program itself, into a temporary file of engine/.
        std::string temp, hash;
        if (!FetchToTemp(releases, base + name, UpdateFetchLimits(TUpdateFetch::Program, releases, options), dir,
                         ".yt-dlp.new-", ExecutableSuffix, TUpdateStep::Program, options, temp, hash, result))
            return result;
        TTempGone tempGone{dir, temp};
        if (hash != listed)
            return Failed(TUpdateFailure::HashDiffers, name);
        if (!dir.MakeExecutable(temp))
            return Failed(TUpdateFailure::Folder, "cannot make " + temp + " executable");
        step(TUpdateStep::Checking);
        const TTrialRun trial = TryProgram(dir.PathOf(temp), options);
        if (trial.Printed != tag)
            return TrialFailure(trial, options);

        // In place: the one there becomes the previous, the new one takes its name.
        step(TUpdateStep::Installing);
        // Nothing goes into a folder that is no longer engine/.
        if (!dir.StillThere())
            return Failed(TUpdateFailure::Folder, engineDir + " was moved or replaced during the update");
        // What is in use now, for Undo: whichever engine it is (the own copy,
        // one beside the program or on PATH), Undo returns to it.
        TEngineBefore before;
        before.Kept = dir.IsRegular(EngineName);
        before.Source = inUse.Source;
        before.Path = inUse.Path;
        before.Version = inUse.Version;
        if (before.Source == "own" && !before.Kept)
            before.Source.clear();  // taken away meanwhile
        std::string beforeTemp;
        if (!WriteBeforeTemp(dir, before, beforeTemp))
            return Failed(TUpdateFailure::Folder, "cannot write in " + engineDir);
        TTempGone beforeGone{dir, beforeTemp};
        if (before.Kept) {
            if (!dir.KeepCopy(EngineName, PreviousName))
                return Failed(TUpdateFailure::Folder, "cannot keep the previous engine in " + engineDir);
        } else {
            // One left from long ago is nobody's previous: Undo must not bring it.
            dir.Remove(PreviousName);
        }
        if (!dir.Rename(temp, EngineName))
            return Failed(TUpdateFailure::Folder, "cannot rename into " + engineDir);
        tempGone.Name.clear();
        // The record of an earlier update must not stay when this one's can't be put.
        if (dir.Rename(beforeTemp, BeforeName))
            beforeGone.Name.clear();
        else
            dir.Remove(BeforeName);
        dir.Sync();
        result = TEngineUpdateResult{};
        result.Outcome = TUpdateOutcome::Updated;
        result.Version = tag;
        ForgetPageLookUps();
    }

    // A runtime for the engine when there is none.
    if (ChooseJsRuntime().Name.empty()) {
        const TEngineUpdateResult runtime = FetchRuntime(dir, releases, options);
        result.RuntimeFetched = runtime.Outcome == TUpdateOutcome::Updated;
        if (!result.RuntimeFetched) {
            result.RuntimeFailure = runtime.Outcome == TUpdateOutcome::Failed ? runtime.Failure : TUpdateFailure::None;
            result.RuntimeDetail = runtime.Detail;
        }
        if (options.ShouldStop && options.ShouldStop() && !result.RuntimeFetched &&
            result.Outcome == TUpdateOutcome::AlreadyNewest)
            return Cancelled();
        ForgetProgramVersions();
    }
    return result;
}

bool CanRestoreEngine()
{
    // Neither engine/ nor the files in it may be links (as RestoreEngine takes them).
    const std::string dir = OwnEngineDir();
    if (dir.empty() || !PathInfoOf(dir).Folder)
        return false;
    const TWholeFile read = ReadWholeFile(dir + "/" + BeforeName, BeforeMaxBytes, TLinkAtName::Refuse);
    const std::optional<TEngineBefore> before = read.Ok() ? ParseBefore(read.Text) : std::nullopt;
    return before && (!before->Kept || PathInfoOf(dir + "/" + PreviousName).Regular);
}

TEngineUpdateResult RestoreEngine()
{
    std::string error;
    TEngineFolder dir;
    bool busy = false;
    if (!OpenAndLockEngineDir(dir, TEngineUpdateOptions{}, busy, error))
        return Failed(TUpdateFailure::Folder, error);
    // Only the last update is undone, once: the record goes with the Undo.
    const std::optional<TEngineBefore> before = ReadBeforeAt(dir);
    if (!before || (before->Kept && !dir.IsRegular(PreviousName)))
        return Failed(TUpdateFailure::NoPrevious);
    // The engine of then, beside the program or on PATH, is gone: the choice
    // would find another one than then, or none. Nothing changes.
    if (before->Source != "own" && !before->Path.empty() && !IsExecutableFile(before->Path))
        return Failed(TUpdateFailure::PreviousGone, before->Path);
    const std::string engineDir = OwnEngineDir();
    if (!dir.StillThere())
        return Failed(TUpdateFailure::Folder, engineDir + " was moved or replaced");
    // The own copy of now goes aside (in place of one an earlier Undo put
    // there), so that the engine choice can't take it; the own copy of then
    // takes its name back, or there is none, as then.
    if (before->Kept) {
        if (dir.Exists(EngineName) && !dir.KeepCopy(EngineName, UndoneName))
            return Failed(TUpdateFailure::Folder, "cannot keep the undone engine in " + engineDir);
        if (!dir.Rename(PreviousName, EngineName))
            return Failed(TUpdateFailure::Folder, "cannot rename in " + engineDir);
    } else if (dir.Exists(EngineName) && !dir.Rename(EngineName, UndoneName)) {
        return Failed(TUpdateFailure::Folder, "cannot keep the undone engine in " + engineDir);
    }
    dir.Remove(BeforeName);
    dir.Sync();
    ForgetProgramVersions();
    ForgetPageLookUps();
    const TEngineChoice now = ChooseEngine();
    TEngineUpdateResult r;
    r.Outcome = TUpdateOutcome::Restored;
    r.Version = now.Version;
    r.Source = now.Path.empty() ? std::string() : now.Source;
    return r;
}
