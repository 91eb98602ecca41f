// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one planner of new jobs, shared by the new-download dialog, brimtale-cli
// and the downloads list: from an address (or a local file) and the user's
// choices to the site, the page's information and formats, whether the page
// lists videos, the proposed name and finally the reserved job. A door only
// shows and edits what the planner gives.
//
// Steps marked (network) may take long. Each runs within the caller's step
// scope (TNetworkStepScope in net/ZQ_Internet.h): it ends early once that step
// has run out of time or was cancelled, and a window runs it off its thread.

#include "app/DownloadJob.h"
#include "engine/EngineDownload.h"
#include "engine/PageEngine.h"
#include "engine/PageList.h"
#include "plan/GetRequest.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_YouTube.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// What an address is (no network): a known site, a local file, another page,
// or nothing the program can take.
TVideoSite SiteOfAddress(const std::string& address);
// An address as it was copied from a browser, as the dialog takes it.
std::string AddressFromClipboard(const std::string& text);
// The address a page's look-ups use: a YouTube page's in its one form.
std::string LookUpAddress(const std::string& address);

// The name proposed for an address (network): the page's title or the media
// file's own name with the site's extension; for a local file its full path.
// Empty when the page gave none (PageProblemOf says why).
std::string ProposeFileName(const std::string& address);
// The name brimtale-cli proposes from that: "video" for a page that gave none
// (its look-up then says why), with the profile's extension when it converts.
std::string ProposeJobName(std::string name, bool page, const TEncoderProfile* profile);
// The extension a name gets when it is not converted (".mp4", ".flv"), or empty
// when it stays as it is; youTubeMp4: an MP4 format is chosen.
std::string UnconvertedExtension(const std::string& address, bool youTubeMp4);

// Why a page's look-up gave no name: the program's words, and the engine's own
// for a details view. Nothing when it gave one or when nothing is known.
struct TPageProblem {
    std::string Text;
    std::string Details;
};
std::optional<TPageProblem> PageProblemOf(const std::string& address, bool polish);

// The six YouTube formats (in YouTubeFormats' order) a page offers (network):
// its own formats, else those the page engine finds.
struct TYouTubeOffer {
    std::array<bool, 6> Offered{};
    bool Any = false;
    std::string Error;  // the engine's words when none was found
};
TYouTubeOffer ProbeYouTubeOffer(const std::string& address);

// The page engine's information about a page, with its formats (network).
TPageInfo LookUpFormats(const std::string& address);
// Why a look-up found nothing, in the program's words.
std::string PageProblemText(const TPageInfo& page, bool polish);

// True when the page's last look-up said it lists several videos, so that
// reading its list is worth a second look-up.
bool MayListVideos(const std::string& address);
// The videos a page lists (network); IsList false for a page of one video.
TPageList ReadPageList(const std::string& address);

// The road of one job, step by step; a door calls the steps in this order and
// stops at the first that fails, whose Message (and Details) says why.
class TJobPlanner {
public:
    TJobPlanner(TGetRequest request, bool polish);
    ~TJobPlanner();
    TJobPlanner(const TJobPlanner&) = delete;
    TJobPlanner& operator=(const TJobPlanner&) = delete;

    // 0. The name the dialog would propose, when the request has none: the
    //    page's title (network) or the file's own name (ProposeJobName).
    void ProposeName();
    // 1. The checks before anything is fetched (no network): the address, the
    //    folder (made when missing) and the file name.
    bool Check();
    // 2. The media behind the page (network). On failure OfferEngineUpdate
    //    tells whether a newer engine may help. A part of the video asked for
    //    must start within it, and ends where the video does (FittedSection).
    bool Resolve(int formatNumber);
    // 3. The media's announced size (network); nothing to ask for a local file
    //    or a page the engine downloads.
    bool NeedsSize() const;
    void QuerySize();
    // 4. The output name taken for the job and the job made. From here on the
    //    name is the job's: a second job started meanwhile gets another.
    bool Reserve();
    // Gives the name back when the job is not started after all.
    void Release();

    // All five for a door that shows no step of its own, each network step
    // bounded by stepSeconds and ended by cancel (or by the end of the
    // caller's own step); false at the first that fails, or when it ended:
    // Cancelled then, with no message and no name taken.
    bool Run(int formatNumber, int stepSeconds, const std::atomic<bool>* cancel);
    bool Cancelled() const { return cancelled_; }

    const TGetRequest& Request() const { return request_; }
    const TGetPlan& Plan() const { return plan_; }
    const TResolvedMedia& Media() const { return media_; }
    TDownloadJob& Job() { return job_; }
    const std::string& Message() const { return message_; }
    const std::string& Details() const { return details_; }
    bool OfferEngineUpdate() const { return media_.OfferEngineUpdate; }
    // The part as it was shortened to the video's end ("[1m30s-2m]"), or empty.
    const std::string& FittedSection() const { return fittedSection_; }

private:
    bool FitSection();

    TGetRequest request_;
    bool polish_;
    TGetPlan plan_;
    TResolvedMedia media_;
    std::int32_t size_ = 0;
    std::string path_;
    bool reserved_ = false;
    bool cancelled_ = false;
    TDownloadJob job_;
    std::string message_;
    std::string details_;
    std::string fittedSection_;
};

// A page for the engine is read by the engine run that downloads it: the job is
// named while that run already downloads into a folder of its own, so the
// engine starts once. The planner's part of that run: whether the page takes
// it, the engine's request, and the naming when the page's information comes.
class TEnginePagePlanner {
public:
    // given: the request as the user made it (an empty name: the page's title).
    TEnginePagePlanner(TGetRequest given, const TEncoderProfile* profile, bool polish);
    // False when the page takes the usual road instead (network: a media file,
    // a page the engine could not read, no engine, a folder refused, or a part
    // or sponsor segments asked for: those need the page's look-up first).
    bool TakesPage(int stepSeconds, const std::atomic<bool>* cancel);
    // The folder the run works in.
    const std::string& Directory() const { return folder_.Directory; }
    TEngineRequest Request() const;
    // Names and reserves the job from the page's information; the run calls it.
    TEngineNamer Namer();
    // After the run: the job it was named for (none when it was refused).
    std::optional<TDownloadJob>& Named() { return named_; }
    const std::string& Refusal() const { return refusal_; }
    // A run that timed out: later look-ups of the page say so without asking again.
    void KeepTimedOut() const;

private:
    TGetRequest given_;
    const TEncoderProfile* profile_;
    bool polish_;
    std::string url_;
    TGetRequest request_;
    TGetPlan folder_;
    std::optional<TDownloadJob> named_;
    std::string refusal_;
};
