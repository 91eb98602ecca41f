// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/JobPlanner.h"

#include "app/Texts.h"
#include "base/ZQ_Strings.h"
#include "engine/ClipOptions.h"
#include "engine/EngineChoice.h"
#include "net/ZQ_Internet.h"
#include "plan/OutputNaming.h"
#include "system/ZQ_FileSystem.h"

#include <algorithm>
#include <chrono>

// Looking at an address.

TVideoSite SiteOfAddress(const std::string& address)
{
    return DetectVideoSite(address);
}

std::string AddressFromClipboard(const std::string& text)
{
    return CleanUpClipboardUrl(text, DetectVideoSite(text));
}

std::string LookUpAddress(const std::string& address)
{
    return DetectVideoSite(address) == vsYouTube ? NormalizeYouTubeUrl(address) : address;
}

std::string ProposeFileName(const std::string& address)
{
    return FileNameFromPage(address, DetectVideoSite(address));
}

std::string ProposeJobName(std::string name, bool page, const TEncoderProfile* profile)
{
    if (page && Trim(name).empty())
        name = "video";
    if (profile && !profile->Ext.empty() && profile->Ext != "-")
        name = ReplaceNameExtension(name, "." + profile->Ext);
    return name;
}

std::string UnconvertedExtension(const std::string& address, bool youTubeMp4)
{
    return DefaultSiteExtension(DetectVideoSite(address), youTubeMp4);
}

std::optional<TPageProblem> PageProblemOf(const std::string& address, bool polish)
{
    // The naming asked about the address as it was given.
    std::optional<std::string> reason = PageLookUpFailure(address);
    if (!reason)
        reason = PageLookUpFailure(Trim(address));
    if (!reason)
        return std::nullopt;
    return TPageProblem{NoMediaMessage(*reason, polish), *reason};
}

TYouTubeOffer ProbeYouTubeOffer(const std::string& address)
{
    TYouTubeOffer offer;
    const TYT_Info_NEW info = GetYouTubeFormats(address);
    TPageInfo page;  // the page engine's answer when the page's own formats gave nothing
    if (std::none_of(info.begin(), info.end(), [](const TYT_MovieItem& m) { return m.Found; }) &&
        !NetworkStepEnded())
        page = LookUpPage(address);
    for (std::size_t i = 0; i < YouTubeFormats.size(); ++i) {
        const int slot = YouTubeFormats[i].Slot;
        offer.Offered[i] =
            (slot >= 1 && slot <= static_cast<int>(info.size()) && info[static_cast<std::size_t>(slot - 1)].Found) ||
            PageOffersYouTubeFormat(page, YouTubeFormats[i].FormatNumber);
        offer.Any = offer.Any || offer.Offered[i];
    }
    if (!offer.Any)
        offer.Error = page.Error;
    return offer;
}

TPageInfo LookUpFormats(const std::string& address)
{
    return LookUpPage(address);
}

std::string PageProblemText(const TPageInfo& page, bool polish)
{
    return PageInfoProblem(page, polish);
}

bool MayListVideos(const std::string& address)
{
    return !address.empty() && KeptListEntries(address) >= 2;
}

TPageList ReadPageList(const std::string& address)
{
    return LookUpPageList(address);
}

// The road of one job.

TJobPlanner::TJobPlanner(TGetRequest request, bool polish) : request_(std::move(request)), polish_(polish) {}

TJobPlanner::~TJobPlanner() = default;

void TJobPlanner::ProposeName()
{
    const std::string url = Trim(request_.Url);
    const TVideoSite site = DetectVideoSite(url);
    if (!request_.FileName.empty() || site == vsNone)
        return;
    request_.FileName = site == vsLocalFile ? ExtractFileName(url) : FileNameFromPage(LookUpAddress(url), site);
    request_.FileName =
        ProposeJobName(request_.FileName, site != vsLocalFile, request_.Convert ? request_.Profile : nullptr);
}

bool TJobPlanner::Check()
{
    plan_ = PlanGet(request_, polish_);
    message_ = plan_.Message;
    return message_.empty();
}

bool TJobPlanner::Resolve(int formatNumber)
{
    media_ = ResolveMedia(plan_, formatNumber, polish_);
    message_ = media_.Message;
    details_ = media_.Details;
    size_ = media_.EngineSize;
    return message_.empty() && FitSection();
}

bool TJobPlanner::FitSection()
{
    // The part asked for within the video's duration, when the page gives one.
    const std::optional<TTimeSection> asked = request_.EngineOptions.Clip.Section;
    if (!asked || !media_.ThroughEngine)
        return true;
    std::string why;
    const std::optional<TTimeSection> fitted = ::FitSection(
        *asked, media_.EngineInfo ? PageDuration(*media_.EngineInfo) : std::nullopt, why, polish_);
    if (!fitted) {
        message_ = why;
        return false;
    }
    if (*fitted != *asked) {
        request_.EngineOptions.Clip.Section = fitted;
        media_.Path = ReplaceAll(media_.Path, SectionTag(*asked), SectionTag(*fitted));
        fittedSection_ = SectionTag(*fitted);
    }
    return true;
}

bool TJobPlanner::NeedsSize() const
{
    return !media_.MediaUrl.empty() && !media_.ThroughEngine;
}

void TJobPlanner::QuerySize()
{
    if (NeedsSize())
        size_ = QueryExpectedSize(media_.MediaUrl);
}

bool TJobPlanner::Reserve()
{
    path_ = ReserveJobOutput(plan_, media_);
    reserved_ = true;
    job_ = MakeDownloadJob(request_, plan_, media_, path_, size_);
    if (path_.empty() || !IsJobValid(job_)) {
        Release();
        message_ = MessageText(TMessageId::JobRefused, polish_);
        return false;
    }
    return true;
}

void TJobPlanner::Release()
{
    if (reserved_)
        ReleaseJobOutput(media_, path_);
    reserved_ = false;
}

bool TJobPlanner::Run(int formatNumber, int stepSeconds, const std::atomic<bool>* cancel)
{
    const auto ended = [&] {
        cancelled_ = (cancel && cancel->load()) || NetworkStepEnded();
        return cancelled_;
    };
    const std::chrono::seconds limit(stepSeconds);
    {
        const TNetworkStepScope step(limit, cancel);
        ProposeName();
    }
    if (ended() || !Check())
        return false;
    bool resolved = false;
    {
        const TNetworkStepScope step(limit, cancel);
        resolved = Resolve(formatNumber);
    }
    if (ended() || !resolved)
        return false;
    if (NeedsSize()) {
        const TNetworkStepScope step(limit, cancel);
        QuerySize();
    }
    return !ended() && Reserve();
}

// One engine run that reads the page and downloads it.

TEnginePagePlanner::TEnginePagePlanner(TGetRequest given, const TEncoderProfile* profile, bool polish)
    : given_(std::move(given)), profile_(profile), polish_(polish), url_(Trim(given_.Url))
{
}

bool TEnginePagePlanner::TakesPage(int stepSeconds, const std::atomic<bool>* cancel)
{
    if (DetectVideoSite(url_) != vsWebPage || ChooseEngine().Path.empty())
        return false;
    // A part is checked against the page's duration, and a sponsor segment
    // service that fails means a run again: both after a look-up.
    if (given_.EngineOptions.Clip.Section || given_.EngineOptions.Clip.Sponsor != TSponsorMode::Off)
        return false;
    TMediaAddress media;
    {
        const TNetworkStepScope step(std::chrono::seconds(stepSeconds), cancel);
        media = ProbeMediaAddress(url_);
    }
    // A file that is no media is refused on the usual road; a server that
    // answers with an error is said so there.
    if ((cancel && cancel->load()) || media.IsMedia || media.NotTrusted || media.PlainFile || media.HttpStatus >= 400)
        return false;
    // The folder and its checks, before any name is known.
    request_ = given_;
    request_.FileName = given_.FileName.empty() ? std::string("video") : given_.FileName;
    folder_ = PlanGet(request_, polish_);
    return folder_.Message.empty();
}

TEngineRequest TEnginePagePlanner::Request() const
{
    TEngineRequest request =
        EngineRequestFor(url_, given_.EngineChoice.value_or(TEngineFormat{}), given_.EngineOptions);
    // Most pages give MP4; another container that takes no cover picture hands
    // the job over to a download of its own.
    request.ExpectedExt = request.Format.MergeFormat.empty() ? "mp4" : request.Format.MergeFormat;
    return request;
}

TEngineNamer TEnginePagePlanner::Namer()
{
    return [this](const TPageInfo& page) -> std::optional<TEngineNaming> {
        // The look-up's answer from here on: the naming reads it as if it had asked.
        KeepPageLookUp(url_, page);
        request_.FileName =
            given_.FileName.empty()
                ? ProposeJobName(FileNameFromTitle(page.Title, page.Ext.empty() ? "" : "." + page.Ext), true, profile_)
                : given_.FileName;
        const TGetPlan plan = PlanGet(request_, polish_);
        if (!plan.Message.empty()) {
            refusal_ = plan.Message;
            return std::nullopt;
        }
        const TResolvedMedia resolved = ResolveEnginePage(plan, polish_);
        if (!resolved.Message.empty() || !resolved.ThroughEngine) {
            refusal_ = resolved.Message.empty() ? std::string(MessageText(TMessageId::JobRefused, polish_))
                                                : resolved.Message;
            if (refusal_.find(given_.Url) == std::string::npos)
                refusal_ += " " + given_.Url;
            return std::nullopt;
        }
        const std::string path = ReserveJobOutput(plan, resolved);
        TDownloadJob job = MakeDownloadJob(request_, plan, resolved, path, resolved.EngineSize);
        if (path.empty() || !IsJobValid(job)) {
            ReleaseJobOutput(resolved, path);
            refusal_ = std::string(MessageText(TMessageId::JobRefused, polish_)) + " " + given_.Url;
            return std::nullopt;
        }
        named_ = job;
        return TEngineNaming{path, EngineRequestFor(job)};
    };
}

void TEnginePagePlanner::KeepTimedOut() const
{
    TPageInfo page;
    page.Error = LookUpTimedOutText;
    KeepPageLookUp(url_, page);
}
