// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Downloading a page's media through the page engine (yt-dlp): its arguments,
// reading its progress lines, and the private folder it works in.
//
// The engine runs in a folder of its own beside the output file and writes a
// fixed name there, so no text of the user's (a folder or file name holding
// "%", "$" or "~") ever reaches it as an output template or path. Its partial
// and fragment files stay in that folder; when it has finished, the one file it
// made is moved to the output name and the folder goes.

#include "system/OutputFiles.h"  // EngineWorkDir
#include "engine/EngineFormat.h"
#include "engine/EngineOptions.h"
#include "engine/PageEngine.h"

#include "system/PrivateFolders.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TEngineRequest {
    std::string Url;        // the page's address
    TEngineFormat Format;   // empty: the engine's own choice
    std::string Ffmpeg;     // the encoder the engine merges with; empty: its own search
    TEngineOptions Options; // subtitles, metadata, cookies, speed limit
    std::string EngineVersion;  // as the engine prints it; RunEngineDownload fills it
    bool FromPageInfo = false;  // start from the page information kept in the folder
    std::string ExpectedExt;    // the file's extension when known ("mp4"); empty: unknown
    int Fragments = 1;          // fragments of an HLS or DASH stream fetched side by side
};

// The files of a job's folder that are no download of the engine's: the page
// information a look-up left for it, and the copy of the cookies file.
extern const char* const EnginePageInfoFile;
extern const char* const EngineCookiesFile;
// Keeps the look-up's page information in the job's folder (made by
// ReserveOutputFile), so the download starts from it; false when it can't.
bool KeepPageInfo(const std::string& workDir, const std::string& json);
// True when the engine's reason says a media address answered 403 or 410: the
// addresses in kept page information have expired.
bool EngineAddressExpired(const std::string& engineError);

struct TDownloadJob;
// The request of a job through the engine. The encoder is named to the engine
// only when it is not the one the engine finds on PATH itself.
TEngineRequest EngineRequestFor(const TDownloadJob& job);
TEngineRequest EngineRequestFor(const std::string& url, const TEngineFormat& format, const TEngineOptions& options);
// The job's engine options (a value that is no valid one counts as none), and
// the other way round.
TEngineOptions EngineOptionsOf(const TDownloadJob& job);
void SetEngineOptions(TDownloadJob& job, const TEngineOptions& options);

// What every progress line of the engine starts with.
extern const char* const EngineProgressMark;

// The engine's arguments for downloading into its working directory.
std::vector<std::string> EngineDownloadArgs(const TEngineRequest& request);

struct TEngineLine {
    enum class TKind { Other, Progress, Merging, Error };
    TKind Kind = TKind::Other;
    bool Finished = false;     // Progress: the stream is complete
    std::int64_t Done = 0;     // Progress: bytes of this stream so far
    std::int64_t Total = 0;    // Progress: its size (exact or estimated), 0 when unknown
    std::string Stream;        // Progress: the format being downloaded
    std::string Text;          // Error: the engine's reason
};
TEngineLine ParseEngineLine(const std::string& line);

// The progress of one download over all its streams (video and audio arrive
// one after the other and are merged at the end).
class TEngineTally {
public:
    void Feed(const TEngineLine& line);
    std::int64_t Done() const { return finished_ + current_; }
    // The streams done plus the current one's size; 0 while unknown.
    std::int64_t Total() const { return currentTotal_ > 0 ? finished_ + currentTotal_ : 0; }
    bool Merging() const { return merging_; }
    const std::string& Error() const { return error_; }

private:
    std::string stream_;
    std::int64_t finished_ = 0;
    std::int64_t current_ = 0;
    std::int64_t currentTotal_ = 0;
    bool merging_ = false;
    std::string error_;
};

// Makes the folder (private to the user) or takes the one a stopped download
// left; false when something else has that name.
bool PrepareEngineWorkDir(const std::string& workDir);

// A download's hold on its folder: while one job holds it, no other job of this
// user can take it. The hold ends with the object (or with the process).
class TEngineWorkDirHold : public TFolderHold {
public:
    explicit TEngineWorkDirHold(const std::string& workDir);
};
// The name of the hold's file inside the folder.
extern const char* const EngineHoldFile;
// Clears away what runs of the engine that have gone (killed, crashed) left in
// directory: the folders of single runs that read the page, and the copies of
// cookies in stopped jobs' folders (their partial files stay). What a live
// process holds is left alone.
void ClearStaleEngineFolders(const std::string& directory);
// True when the folder holds nothing but the hold's file (or nothing at all).
bool EngineWorkDirIsEmpty(const std::string& workDir);
// The engine's partial files in a job's folder (none when it is not a folder).
std::vector<std::string> PartialFilesIn(const std::string& workDir);
// Removes the folder and everything the engine left in it.
void RemoveEngineWorkDir(const std::string& workDir);

// The engine gives up when it prints nothing for this long.
constexpr int EngineStallSeconds = 120;

// Why a download through the engine did not give a file.
enum class TEngineFailure {
    None,
    NoEngine,       // no engine to run
    NoFolder,       // the work folder could not be made or is not the user's own
    Busy,           // another download holds the folder
    StaleFolder,    // a new download found files of an earlier one in its folder
    EngineFailed,   // the engine ended with an error (Error says which)
    Stalled,        // the engine printed nothing for EngineStallSeconds
    NoResult,       // the engine ended well but left no file
    SeveralResults, // the engine left more than one candidate file
    TooLarge,       // the file is far larger than what the engine downloaded
    NotMoved,       // the file could not be given its name
    NotMedia,       // the engine's file is of no media type the program knows (Error names it)
    NoCookies,      // the cookies file could not be read
};

struct TEngineRun {
    bool Ok = false;          // the engine finished and the file is in place
    bool Stopped = false;     // shouldStop said so
    TEngineFailure Failure = TEngineFailure::None;
    std::string OutputFile;   // where the file is: the output name, its extension the media's
    std::string Error;        // the engine's own reason when it failed
    std::string WorkDir;      // the job's folder; it stays when it holds partial files
    std::vector<std::string> Subtitles;  // the subtitle files saved beside it
    std::vector<std::string> Chapters;   // one file per chapter, in the video's folder (in order)
    // The sponsor segment service failed: the engine ran again without it, and
    // the video is whole.
    bool SponsorFailed = false;
    bool PageReadAgain = false;  // the kept page information had expired
    bool WantsSignIn = false;    // the engine's reason says the page wants a signed-in user
    // RunEngineReadingPage only:
    bool Named = false;       // the page was read and the job named; false: nothing of the run is kept
    bool HandedOver = false;  // the job's download would run the engine otherwise: it is to run it
    bool TimedOut = false;    // the page gave no answer within the look-up's time
};

// One line for the user about a failed run, in the program's language.
std::string EngineRunMessage(const TEngineRun& run, bool polish);

// Runs the engine for the request into outputFile's folder (a child process in
// a group of its own; blocks). onProgress gets the tally after every progress
// or state line; shouldStop is asked about ten times a second, and when it says
// yes the engine and all it started (a merging ffmpeg too) are ended. The
// extension of outputFile becomes the one the engine's file has; a name that is
// taken gets a free numbered variant, nothing is overwritten.
// The folder is the job's own while it runs: a folder another download holds is
// never used, and a new job (continuing false) uses only an empty one; with
// continuing the engine goes on with the partial files an earlier try left.
TEngineRun RunEngineDownload(const TEngineRequest& request, const std::string& outputFile,
                             const std::function<void(const TEngineTally&)>& onProgress,
                             const std::function<bool()>& shouldStop, bool continuing = false);

// What a download that reads the page itself is told once the page is read:
// the job's output name, reserved as ReserveOutputFile does (its folder may
// hold the page information, nothing else), and the request the job's own
// download would make. Nothing: no job (the namer says why to its caller).
struct TEngineNaming {
    std::string OutputFile;
    TEngineRequest Request;
};
using TEngineNamer = std::function<std::optional<TEngineNaming>(const TPageInfo& page)>;

// A download of a page that no look-up has read: one run of the engine reads
// the page and downloads it, in a private folder in directory, while name
// names the job from the page information the engine writes before it
// downloads. The run then ends as RunEngineDownload's; partial files it keeps
// go into the job's reserved folder once the engine has ended. The page has
// lookUpSeconds to answer. Without a name (Named false) nothing of the run is
// kept: Failure and Error say what the engine said before it read the page, or
// HandedOver says the job's own download is to be run (its request differs
// from this run's).
TEngineRun RunEngineReadingPage(const TEngineRequest& request, const std::string& directory, int lookUpSeconds,
                                const TEngineNamer& name, const std::function<void(const TEngineTally&)>& onProgress,
                                const std::function<bool()>& shouldStop);

