#pragma once
// Downloading a page's media through the page engine (yt-dlp): its arguments,
// reading its progress lines, and the private folder it works in.
//
// The engine runs in a folder of its own beside the output file and writes a
// fixed name there, so no text of the user's (a folder or file name holding
// "%", "$" or "~") ever reaches it as an output template or path. Its partial
// and fragment files stay in that folder; when it has finished, the one file it
// made is moved to the output name and the folder goes.

#include "sites/PageEngine.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TEngineRequest {
    std::string Url;        // the page's address
    TEngineFormat Format;   // empty: the engine's own choice
    std::string Ffmpeg;     // the encoder the engine merges with; empty: its own search
};

struct TDownloadJob;
// The request of a job through the engine. The encoder is named to the engine
// only when it is not the one the engine finds on PATH itself.
TEngineRequest EngineRequestFor(const TDownloadJob& job);

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

// The engine's folder for an output file: ".<name>.parts" beside it.
std::string EngineWorkDir(const std::string& outputFile);
// Makes the folder (private to the user) or takes the one a stopped download
// left; false when something else has that name.
bool PrepareEngineWorkDir(const std::string& workDir);
// Removes the folder and everything the engine left in it.
void RemoveEngineWorkDir(const std::string& workDir);

// The engine gives up when it prints nothing for this long.
constexpr int EngineStallSeconds = 120;

struct TEngineRun {
    bool Ok = false;          // the engine finished and the file is in place
    bool Stopped = false;     // shouldStop said so
    std::string OutputFile;   // where the file is: the output name, its extension the media's
    std::string Error;        // the engine's reason when it failed
};

// Runs the engine for the request into outputFile's folder (a child process in
// a group of its own; blocks). onProgress gets the tally after every progress
// or state line; shouldStop is asked about ten times a second, and when it says
// yes the engine and all it started (a merging ffmpeg too) are ended. The
// extension of outputFile becomes the one the engine's file has; a name that is
// taken gets a free numbered variant, nothing is overwritten.
TEngineRun RunEngineDownload(const TEngineRequest& request, const std::string& outputFile,
                             const std::function<void(const TEngineTally&)>& onProgress,
                             const std::function<bool()>& shouldStop);

// True for the extensions (".mp4" or "mp4", any case) a file the engine made may
// have: the media and subtitle types the program knows. Anything else (a
// ".desktop", a script) is refused.
bool IsEngineResultExtension(const std::string& ext);
