// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/GetRequest.h"

#include "app/ProgramValues.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "engine/EngineChoice.h"
#include "engine/PageEngine.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"
#include "engine/EngineDownload.h"
#include "plan/OutputNaming.h"
#include "app/Texts.h"

#include <climits>

namespace {
// A typed file name is one name inside the output directory: a "/" (or a NUL,
// which would cut the path short) becomes "_".
std::string OneFileName(std::string name)
{
    for (char& c : name)
        if (c == '/' || c == '\0')
            c = '_';
    return name;
}

std::int32_t AsExpectedSize(std::int64_t size)
{
    // A size that does not fit a positive 32-bit value counts as unknown.
    return size <= 0 || size > INT32_MAX ? 0 : static_cast<std::int32_t>(size);
}

// Hands the page to the page engine: true when it found something to download.
// Otherwise resolved.Message says why, in the program's words, and
// resolved.Details holds the engine's own. No engine: what the server answered
// the program's client (httpStatus, 0 when unknown), else the site's own
// message and the line about installing one.
bool ThroughEngine(const std::string& url, const TEngineFormat& format, const std::string& noEngineMessage,
                   bool polish, TResolvedMedia& resolved, int httpStatus = 0)
{
    if (ChooseEngine().Path.empty()) {
        const std::string answered = AddressProblemMessage(httpStatus, {}, polish);
        resolved.Message = answered.empty() ? WithEngineHint(noEngineMessage, polish) : answered;
        return false;
    }
    const TPageInfo info = LookUpPage(url);
    resolved.EngineInfo = info.Json;
    if (!info.Found) {
        // The engine read the address itself: its answer counts, not the
        // program's client's (a server may answer the two differently).
        resolved.Message = PageInfoProblem(info, polish);
        if (!info.EngineFailed && !info.TooLarge)
            resolved.Details = info.Error;
        // Not the page's fault when the engine itself failed. An engine of any
        // age fails on a page that can't be reached, that the server says is
        // not there, or on a server that fails.
        const bool youTube = DetectVideoSite(url) == vsYouTube;
        resolved.OfferEngineUpdate =
            info.EngineFailed ? EngineMayBeTheCause(ChooseEngine(), youTube)
                              : !info.TooLarge && !NetworkStepEnded() && !PageUnreachableReason(info.Error) &&
                                    !StatusBeyondEngine(HttpStatusInReason(info.Error)) &&
                                    EngineMayBeTheCause(ChooseEngine(), youTube);
        return false;
    }
    resolved.ThroughEngine = true;
    resolved.MediaUrl = url;
    resolved.EngineFormat = format;
    resolved.EngineSize = format == TEngineFormat{} ? AsExpectedSize(info.Size) : 0;
    return true;
}

} // namespace

std::string ReplaceNameExtension(const std::string& name, const std::string& ext)
{
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ext;
}

TGetPlan PlanGet(const TGetRequest& request, bool polish)
{
    TGetPlan plan;
    // 1. A local file is only converted.
    if (FileExists(request.Url) && !request.Convert) {
        plan.Message = MessageText(TMessageId::NoProfile, polish);
        return plan;
    }
    // 2. Something must be given.
    plan.Url = Trim(request.Url);
    if (plan.Url.empty()) {
        plan.Message = MessageText(TMessageId::NoUrl, polish);
        return plan;
    }
    // 3. A page of a known site or an existing file.
    plan.Site = DetectVideoSite(plan.Url);
    if (plan.Site == vsNone) {
        plan.Message = MessageText(TMessageId::InvalidUrl, polish);
        return plan;
    }
    // 4. The output directory, created with its parents when missing. "~" is the
    // home folder, and so is the base of a relative path: never the folder the
    // program happened to be started from.
    plan.Directory = UserOutputDir(request.Directory);
    if (!DirectoryExists(plan.Directory) && !ForceDirectories(plan.Directory)) {
        plan.Message = CantCreateDirMessage(plan.Directory.empty() ? request.Directory : plan.Directory, polish);
        return plan;
    }
    // 5. A file name.
    plan.NameChecked = true;
    plan.TypedName = Trim(request.FileName);
    plan.FileName = OneFileName(plan.TypedName);
    if (plan.FileName.empty() || plan.FileName == "." || plan.FileName == "..") {
        plan.Message = MessageText(TMessageId::NoFileName, polish);
        return plan;
    }
    // A part of the video is named with its times.
    if (const auto& section = request.EngineOptions.Clip.Section; section && plan.Site != vsLocalFile)
        plan.FileName = SafeFileName(NameWithSection(plan.FileName, *section));
    plan.Path = ReplaceAll(plan.Directory + "/" + plan.FileName, "//", "/");
    plan.EngineChoice = request.EngineChoice;
    return plan;
}

TResolvedMedia ResolveMedia(const TGetPlan& plan, int formatNumber, bool polish)
{
    TResolvedMedia resolved;
    resolved.Path = plan.Path;
    const std::string refused = MessageText(TMessageId::JobRefused, polish);
    // A format of the engine's: a known site's page goes to it instead of the
    // site's own reading (any other page goes to it anyway, unless it is a media
    // file).
    if (plan.EngineChoice && (plan.Site == vsYouTube || plan.Site == vsWrzuta || plan.Site == vsYouPorn)) {
        if (ThroughEngine(plan.Url, *plan.EngineChoice, refused, polish, resolved) && plan.Site == vsYouTube)
            resolved.Path = CleanDoubledExtension(plan.Path + DefaultSiteExtension(vsYouTube, true));
        return resolved;
    }
    switch (plan.Site) {
    case vsYouTube: {
        const TYT_MovieItem item = GetYouTubeMovie(plan.Url, formatNumber);
        resolved.MediaUrl = item.URL;
        resolved.Path = CleanDoubledExtension(plan.Path + item.Extension);
        resolved.NameChanged = true;
        if (item.URL.empty() && !NetworkStepEnded() &&
            ThroughEngine(plan.Url, YouTubeEngineFormat(formatNumber), refused, polish, resolved)) {
            const bool mp4 = YouTubeEngineFormat(formatNumber).MergeFormat == "mp4";
            resolved.Path = CleanDoubledExtension(plan.Path + DefaultSiteExtension(vsYouTube, mp4));
        }
        break;
    }
    case vsWrzuta:
        resolved.MediaUrl = GetWrzutaUrl(plan.Url);
        resolved.Path = ChangeFileExt(plan.Path, DetectMediaExtension(resolved.MediaUrl, ".flv", true));
        resolved.NameChanged = true;
        if (resolved.MediaUrl.empty() && !NetworkStepEnded())
            ThroughEngine(plan.Url, {}, refused, polish, resolved);
        break;
    case vsYouPorn:
        resolved.MediaUrl = GetYouPornUrl(plan.Url);
        if (resolved.MediaUrl.empty() && !NetworkStepEnded())
            ThroughEngine(plan.Url, {}, refused, polish, resolved);
        break;
    case vsWebPage: {
        // A media file is taken as it is; any other page goes to the engine.
        const TMediaAddress media = ProbeMediaAddress(plan.Url);
        if (media.NotTrusted) {
            // Neither this program nor the engine may read it: said as it is.
            resolved.Message = NotTrustedMessage(plan.Url, polish);
            break;
        }
        if (media.IsMedia) {
            resolved.MediaUrl = plan.Url;
            if (!media.Extension.empty() && ExtractFileExt(plan.FileName).empty()) {
                resolved.Path = plan.Path + "." + media.Extension;
                resolved.NameChanged = true;
            }
        } else if (media.PlainFile) {
            // A file of another kind: the engine would take it for a video
            // and fail on it at the end. Said as what it is.
            resolved.Message = MessageText(TMessageId::NotMediaFile, polish);
        } else if (!NetworkStepEnded()) {
            resolved = ResolveEnginePage(plan, polish, media.HttpStatus);
        }
        break;
    }
    default:
        break;
    }
    return resolved;
}

TResolvedMedia ResolveEnginePage(const TGetPlan& plan, bool polish, int httpStatus)
{
    TResolvedMedia resolved;
    resolved.Path = plan.Path;
    ThroughEngine(plan.Url, plan.EngineChoice.value_or(TEngineFormat{}), MessageText(TMessageId::InvalidUrl, polish),
                  polish, resolved, httpStatus);
    return resolved;
}

std::string FinalOutputPath(const std::string& path)
{
    std::string out = CleanDoubledExtension(path);
    if (PathExists(out))
        out = GetUniqueFileName(out);
    return out;
}

std::string ReserveJobOutput(const TGetPlan& plan, const TResolvedMedia& resolved)
{
    if (plan.Site == vsLocalFile || resolved.MediaUrl.empty())
        return FinalOutputPath(resolved.Path);
    const std::string path = ReserveOutputFile(CleanDoubledExtension(resolved.Path), resolved.ThroughEngine);
    // The download reads the page information instead of the page. Without it
    // (it could not be written) the page is read again; nothing else changes.
    if (!path.empty() && resolved.ThroughEngine && resolved.EngineInfo)
        KeepPageInfo(EngineWorkDir(path), *resolved.EngineInfo);
    return path;
}

void ReleaseJobOutput(const TResolvedMedia& resolved, const std::string& path)
{
    if (resolved.ThroughEngine && !path.empty())
        RemoveFile(EngineWorkDir(path) + "/" + EnginePageInfoFile);
    if (!resolved.MediaUrl.empty())
        ReleaseOutputFile(path, resolved.ThroughEngine);
}

std::int32_t QueryExpectedSize(const std::string& mediaUrl)
{
    return AsExpectedSize(mediaUrl.empty() ? 0 : QueryContentLength(mediaUrl));
}

TDownloadJob MakeDownloadJob(const TGetRequest& request, const TGetPlan& plan, const TResolvedMedia& resolved,
                             const std::string& outputPath, std::int32_t expectedSize)
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = plan.Url;
    job.MediaUrl = resolved.MediaUrl;
    job.ThroughEngine = resolved.ThroughEngine;
    job.EngineFormat = resolved.EngineFormat.Selector;
    job.EngineMerge = resolved.EngineFormat.MergeFormat;
    job.OutputFile = outputPath;
    job.ExpectedSize = expectedSize;
    job.EncoderParams = "-";
    job.EncoderExt = "-";
    job.TargetExt = "-";
    if (request.Convert && request.Profile) {
        job.EncoderParams = request.Profile->Params;
        job.EncoderExt = request.Profile->EncExt;
        job.TargetExt = request.Profile->Ext;
    }
    job.DeleteInput = request.DeleteInput;
    SetEngineOptions(job, request.EngineOptions);
    // A download writes the file reserved for it, and nothing that takes its
    // place later. (The engine's own files are in its reserved work folder.)
    if (!job.ThroughEngine && !job.MediaUrl.empty())
        job.OutputId = FileIdOf(outputPath);
    return job;
}
