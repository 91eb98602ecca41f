// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/ListJobs.h"

#include "plan/JobPlanner.h"

#include "app/Texts.h"
#include "engine/EngineDownload.h"
#include "plan/OutputNaming.h"
#include "system/OutputFiles.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "engine/PageEngine.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_YouTube.h"

#include <set>

namespace {
constexpr int MaxVariants = 10000;

// "NAME.mp4" for n 0, "NAME_01.mp4", "NAME_02.mp4", ... after it (the numbering
// of GetUniqueFileName).
std::string Variant(const std::string& path, int n)
{
    if (n == 0)
        return path;
    const std::string ext = ExtractFileExt(path);
    return path.substr(0, path.size() - ext.size()) + "_" + PadLeft(std::to_string(n), 2, '0') + ext;
}

bool IsMp4Format(int formatNumber)
{
    return YouTubeEngineFormat(formatNumber).MergeFormat == "mp4";
}
} // namespace

std::string ListFolder(const std::string& directory, const std::string& listTitle, bool ownFolder)
{
    if (directory.empty() || (!DirectoryExists(directory) && !ForceDirectories(directory)))
        return {};
    if (!ownFolder)
        return directory;
    std::string name = FileNameFromTitle(listTitle, "");
    if (Trim(name).empty() || name == "_")
        name = "list";
    const std::string base = directory.back() == '/' ? directory + name : directory + "/" + name;
    // The list's folder may be there from before; a file of that name is not used.
    for (int n = 0; n <= MaxVariants; ++n) {
        const std::string folder = n == 0 ? base : base + "_" + PadLeft(std::to_string(n), 2, '0');
        if (DirectoryExists(folder) || (!PathExists(folder) && ForceDirectories(folder)))
            return folder;
    }
    return {};
}

TListJobMaker::TListJobMaker(const TGetRequest& request, std::string folder)
    : request_(request), folder_(std::move(folder))
{
}

bool TListJobMaker::Make(const TPageListEntry& entry, TDownloadJob& job)
{
    if (folder_.empty() || entry.Url.empty())
        return false;
    const bool youTube = DetectVideoSite(entry.Url) == vsYouTube;
    std::string ext = ".mp4";
    if (youTube)
        ext = DefaultSiteExtension(vsYouTube, IsMp4Format(request_.FormatNumber));
    else if (IsEngineResultExtension(entry.Ext))
        ext = "." + LowerAscii(entry.Ext);
    std::string name = FileNameFromTitle(Trim(entry.Title).empty() ? std::string("video") : entry.Title, ext);
    if (request_.Convert && request_.Profile && !request_.Profile->Ext.empty() && request_.Profile->Ext != "-")
        name = ReplaceNameExtension(name, "." + request_.Profile->Ext);
    // A part of each video is named with its times, as one video's is.
    if (const auto& section = request_.EngineOptions.Clip.Section)
        name = SafeFileName(NameWithSection(name, *section));
    const std::string path = CleanDoubledExtension(folder_ + "/" + name);

    // The numbers this list has given to the name already are not tried again,
    // so a list of many equal titles costs no more than one of different ones.
    int& n = next_[path];
    std::string reserved;
    for (; n <= MaxVariants && reserved.empty(); ++n) {
        const std::string candidate = Variant(path, n);
        if (IsOutputNameTaken(candidate))
            continue;
        reserved = ReserveOutputFile(candidate, true);
        if (reserved.empty())
            return false;  // not for want of a name: the folder can't be written
    }
    if (reserved.empty())
        return false;

    TGetPlan plan;
    plan.Url = entry.Url;
    TResolvedMedia resolved;
    resolved.MediaUrl = entry.Url;
    resolved.ThroughEngine = true;
    if (request_.EngineChoice)
        resolved.EngineFormat = *request_.EngineChoice;
    else if (youTube)
        resolved.EngineFormat = YouTubeEngineFormat(request_.FormatNumber);
    job = MakeDownloadJob(request_, plan, resolved, reserved, 0);
    if (!IsJobValid(job)) {
        ReleaseOutputFile(reserved, true);
        return false;
    }
    return true;
}

void ReleaseMadeJob(const TDownloadJob& job)
{
    if (!job.MediaUrl.empty() && job.MediaUrl != "-")
        ReleaseOutputFile(job.OutputFile, job.ThroughEngine);
}

std::vector<std::string> BatchAddresses(const std::string& text, std::size_t maxCount)
{
    std::vector<std::string> addresses;
    std::set<std::string> seen;
    std::size_t start = 0;
    while (start < text.size() && addresses.size() < maxCount) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(start, std::min<std::size_t>(end - start, JobPathMax + 1)));
        start = end + 1;
        if (line.empty() || line.size() > JobPathMax || seen.count(line))
            continue;
        const TVideoSite site = DetectVideoSite(line);
        if (site == vsNone)
            continue;
        seen.insert(line);
        addresses.push_back(CleanUpClipboardUrl(line, site));
    }
    return addresses;
}

TAddressJob MakeAddressJob(const std::string& address, TGetRequest request, bool polish)
{
    TAddressJob made;
    request.Url = address;
    request.FileName.clear();
    // Within the caller's step: its end or cancel ends every step here.
    TJobPlanner planner(std::move(request), polish);
    if (planner.Run(planner.Request().FormatNumber, PageLookUpSeconds, nullptr)) {
        made.Job = planner.Job();
        made.Made = true;
    } else if (!planner.Cancelled()) {
        made.Message = planner.Message();
        made.Details = planner.Details();
    }
    return made;
}
