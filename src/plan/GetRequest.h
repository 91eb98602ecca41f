// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The road from what the user gave (an address or a local file, a directory, a
// file name, a format and a profile) to a download job, shared by the
// new-download dialog and brimtale-cli: the checks in their order with their
// messages, resolving the media address, the output name and the job's fields.
// The two network steps (ResolveMedia, QueryExpectedSize) are separate calls, so
// that a window can run them off its thread.

#include "app/DownloadJob.h"
#include "convert/EncoderProfiles.h"
#include "engine/EngineOptions.h"
#include "engine/PageEngine.h"
#include "sites/VideoSite.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct TGetRequest {
    std::string Url;          // as typed
    std::string Directory;    // as typed; "~" and relative paths are in the home folder
    std::string FileName;     // as typed
    bool Convert = false;     // the conversion is asked for
    const TEncoderProfile* Profile = nullptr;  // its profile (none: nothing to convert with)
    bool DeleteInput = false;
    int FormatNumber = 5;     // the YouTube format asked for
    // The page engine's format the user chose (a quick choice or one of the
    // page's formats): the page then goes to the engine, YouTube's too.
    std::optional<TEngineFormat> EngineChoice;
    TEngineOptions EngineOptions;  // subtitles, metadata, cookies, speed limit
};

struct TGetPlan {
    std::string Message;     // not empty: the request is refused with this text
    TVideoSite Site = vsNone;
    std::string Url;         // trimmed
    std::string Directory;   // absolute, made when it was missing
    bool NameChecked = false;  // the checks reached the file name
    std::string TypedName;   // the typed name, trimmed
    std::string FileName;    // one file name inside Directory
    std::string Path;        // Directory + "/" + FileName
    std::optional<TEngineFormat> EngineChoice;  // the request's
};

// The checks before anything is fetched, in order: a local file needs a
// profile; an address must be given and name a known site or an existing file;
// the directory is made when missing; a file name must remain.
TGetPlan PlanGet(const TGetRequest& request, bool polish);

struct TResolvedMedia {
    std::string MediaUrl;   // empty for a local file and when nothing was found
    std::string Path;       // the output path with the site's extension
    bool NameChanged = false;  // the file name part of Path differs from the plan's
    std::string Message;    // not empty: nothing can be downloaded, and this says why
    std::string Details;    // the engine's own words about it (for a details view), or empty
    // The page engine downloads it: MediaUrl is then the page's address.
    bool ThroughEngine = false;
    TEngineFormat EngineFormat;
    std::int32_t EngineSize = 0;  // what the engine announced, 0 when unknown
    // The engine found nothing, and an update of it may help.
    bool OfferEngineUpdate = false;
    // The engine's page information; kept in the job's folder, the download
    // starts from it instead of reading the page again.
    std::shared_ptr<const std::string> EngineInfo;
};
// Finds the media address behind the page (network): a site's own resolver,
// the address itself when it answers with a media file, else the page engine
// (also when a site's resolver finds nothing).
TResolvedMedia ResolveMedia(const TGetPlan& plan, int formatNumber, bool polish);
// The same for a page known to be none of the sites' and no media file: the
// page engine's answer only (its look-up, or the answer kept for the page).
// httpStatus is what the program's own client got for the address (0 when
// unknown): without an engine it says what the server answered.
TResolvedMedia ResolveEnginePage(const TGetPlan& plan, bool polish, int httpStatus = 0);

// The output path as it is used: doubled extension dropped, a free numbered name
// when the name is taken (the empty text when none is left).
std::string FinalOutputPath(const std::string& path);
// The same name, taken for the job at once so that a second job started a moment
// later gets another one (see ReserveOutputFile): a download's by its work folder
// (with the engine's page information in it) or its empty file. A local file only gets a free name; its conversion takes
// the output's name when it starts.
std::string ReserveJobOutput(const TGetPlan& plan, const TResolvedMedia& resolved);
// Gives the name back when the job was not started.
void ReleaseJobOutput(const TResolvedMedia& resolved, const std::string& path);

// The media's announced size when it fits a positive 32-bit value, else 0 (network).
std::int32_t QueryExpectedSize(const std::string& mediaUrl);

// The job for a planned, resolved request.
TDownloadJob MakeDownloadJob(const TGetRequest& request, const TGetPlan& plan, const TResolvedMedia& resolved,
                             const std::string& outputPath, std::int32_t expectedSize);

// Everything from the last "." of a name on becomes ext (which starts with its
// dot); a name without "." gets ext appended.
std::string ReplaceNameExtension(const std::string& name, const std::string& ext);
