// SPDX-License-Identifier: GPL-3.0-or-later
// Parts of a video, chapters and sponsor segments: how the user writes them,
// how a job carries them, and what the engine is told.

#include "app/DownloadJob.h"
#include "engine/EngineDownload.h"
#include "engine/ClipOptions.h"
#include "engine/EngineOptions.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
bool Has(const std::vector<std::string>& args, const std::string& a, const std::string& b)
{
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == a && args[i + 1] == b)
            return true;
    return false;
}
bool Has(const std::vector<std::string>& args, const std::string& a)
{
    return std::find(args.begin(), args.end(), a) != args.end();
}
} // namespace

TEST(ClipOptions, TimesAndSectionsAsTheUserWritesThem)
{
    EXPECT_EQ(ParseClipTime("90"), 90.0);
    EXPECT_EQ(ParseClipTime(" 1:30 "), 90.0);
    EXPECT_EQ(ParseClipTime("1:02:03"), 3723.0);
    EXPECT_EQ(ParseClipTime("1m30s"), 90.0);
    EXPECT_EQ(ParseClipTime("1H2M"), 3720.0);
    EXPECT_EQ(ParseClipTime("2.5"), 2.5);
    EXPECT_EQ(ParseClipTime("0:02.5"), 2.5);
    for (const char* bad : {"", "-1", "1:60", "1:2:3:4", "abc", "1e3", "s", "1m1h", "1.5m", "1::2", "1:", ".",
                            "1.2.3", "4000000", "1s30m", "nan", "inf", "$(touch x)"})
        EXPECT_FALSE(ParseClipTime(bad)) << bad;

    std::string error;
    const auto section = ParseTimeSection("1:30-2:45", error);
    ASSERT_TRUE(section) << error;
    EXPECT_EQ(*section, (TTimeSection{90, 165}));
    // An end before (or at) its start, a missing dash, a bad time: each said.
    EXPECT_FALSE(ParseTimeSection("2:45-1:30", error));
    EXPECT_NE(error.find("not after its start"), std::string::npos) << error;
    EXPECT_FALSE(ParseTimeSection("10-10", error));
    EXPECT_FALSE(ParseTimeSection("1:30", error));
    EXPECT_NE(error.find("START-END"), std::string::npos) << error;
    EXPECT_FALSE(ParseTimeSection("1-2-3", error));
    EXPECT_FALSE(ParseTimeSection("a-3", error));
    EXPECT_NE(error.find("not a time"), std::string::npos) << error;
    EXPECT_FALSE(ParseTimeSection("3-1", error, true));
    EXPECT_NE(error.find("koniec"), std::string::npos) << error;
}

TEST(ClipOptions, SectionNamesCarryNoDotAndSurviveAJob)
{
    EXPECT_EQ(ClipTimeText(90), "1m30s");
    EXPECT_EQ(ClipTimeText(0), "0s");
    EXPECT_EQ(ClipTimeText(3723), "1h2m3s");
    EXPECT_EQ(ClipTimeText(3600), "1h");
    EXPECT_EQ(ClipTimeText(2.5), "2s500ms");
    EXPECT_EQ(SectionTag({90, 165}), "[1m30s-2m45s]");
    EXPECT_EQ(NameWithSection("NAME.mp4", {90, 165}), "NAME [1m30s-2m45s].mp4");
    EXPECT_EQ(NameWithSection("NAME", {90, 165}), "NAME [1m30s-2m45s]");
    EXPECT_EQ(NameWithSection("Mr. Smith goes to town", {1, 2}), "Mr. Smith goes to town [1s-2s]");
    EXPECT_EQ(NameWithSection("NAME [1m30s-2m45s].mp4", {90, 165}), "NAME [1m30s-2m45s].mp4");

    EXPECT_EQ(SectionValue({1.5, 3}), "1.5-3");
    EXPECT_EQ(SectionFromValue("1.5-3"), (TTimeSection{1.5, 3}));
    EXPECT_FALSE(SectionFromValue("3-1"));
    EXPECT_FALSE(SectionFromValue("junk"));

    // Through the -get line and back, as a list restart reads it.
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = job.MediaUrl = "http://127.0.0.1:9/page";
    job.OutputFile = "/tmp/x.mp4";
    job.ThroughEngine = true;
    TEngineOptions options;
    options.Clip.Section = TTimeSection{2, 5.25};
    options.Clip.SplitChapters = true;
    options.Clip.Sponsor = TSponsorMode::Mark;
    options.Clip.SponsorCategories = "sponsor,intro";
    SetEngineOptions(job, options);
    std::vector<std::string> args = JobToArgs(job, false);
    args.insert(args.begin(), "brimtale");
    const TDownloadJob back = JobFromArgs(args);
    EXPECT_EQ(back.Section, "2-5.25");
    EXPECT_TRUE(back.SplitChapters);
    EXPECT_EQ(back.Sponsor, "mark:sponsor,intro");
    EXPECT_EQ(EngineOptionsOf(back).Clip, options.Clip);
    // A value that is none is read as none, never passed on to the engine.
    TDownloadJob odd = job;
    odd.Section = "--exec=x";
    odd.Sponsor = "remove:all,--exec";
    EXPECT_EQ(EngineOptionsOf(odd).Clip.Section, std::nullopt);
    EXPECT_EQ(EngineOptionsOf(odd).Clip.Sponsor, TSponsorMode::Off);
}

TEST(ClipOptions, SponsorCategoriesAndWhatTheEngineIsTold)
{
    EXPECT_EQ(ParseSponsorMode("Remove"), TSponsorMode::Remove);
    EXPECT_EQ(ParseSponsorMode("mark"), TSponsorMode::Mark);
    EXPECT_FALSE(ParseSponsorMode("all"));
    EXPECT_EQ(ParseSponsorCategories("intro, self-promotion,sponsor,intro"), "sponsor,selfpromo,intro");
    EXPECT_EQ(ParseSponsorCategories("interaction-reminder,OUTRO"), "interaction,outro");
    for (const char* bad : {"", ",", "all", "preview", "sponsor,poi_highlight", "-sponsor", "sponsor;intro"})
        EXPECT_FALSE(ParseSponsorCategories(bad)) << bad;

    TClipOptions none;
    EXPECT_TRUE(ClipEngineArgs(none, "t").empty());
    EXPECT_FALSE(none.Any());

    TClipOptions clip;
    clip.Section = TTimeSection{90, 165};
    clip.Sponsor = TSponsorMode::Remove;
    clip.SplitChapters = true;
    const std::vector<std::string> args = ClipEngineArgs(clip, ChapterOutputTemplate());
    EXPECT_TRUE(Has(args, "--download-sections", "*90-165"));
    EXPECT_TRUE(Has(args, "--force-keyframes-at-cuts"));
    EXPECT_TRUE(Has(args, "--sponsorblock-remove", "sponsor"));
    EXPECT_FALSE(Has(args, "--sponsorblock-mark"));
    EXPECT_TRUE(Has(args, "--split-chapters"));
    EXPECT_TRUE(Has(args, "--no-embed-chapters"));
    EXPECT_TRUE(Has(args, "-o", "chapter:" + ChapterOutputTemplate()));
    clip.Sponsor = TSponsorMode::Mark;
    clip.SponsorCategories = "intro,outro";
    EXPECT_TRUE(Has(ClipEngineArgs(clip, "t"), "--sponsorblock-mark", "intro,outro"));
    // Off again for a run after the segment service failed; the rest stays.
    const TClipOptions without = WithoutSponsor(clip);
    EXPECT_EQ(without.Sponsor, TSponsorMode::Off);
    EXPECT_FALSE(Has(ClipEngineArgs(without, "t"), "--sponsorblock-mark"));
    EXPECT_TRUE(Has(ClipEngineArgs(without, "t"), "--split-chapters"));

    // The engine's whole command line holds them.
    TEngineOptions options;
    options.Clip = clip;
    const std::vector<std::string> all = EngineOptionArgs(options, "2024.01.01", "", "mp4");
    EXPECT_TRUE(Has(all, "--sponsorblock-mark", "intro,outro"));
    // Chapters are not embedded when each is a file: the later option wins.
    EXPECT_GT(std::find(all.begin(), all.end(), "--no-embed-chapters"),
              std::find(all.begin(), all.end(), "--embed-chapters"));

    EXPECT_TRUE(IsSponsorServiceError("Preprocessing: Unable to communicate with SponsorBlock API: timed out"));
    EXPECT_FALSE(IsSponsorServiceError("HTTP Error 404: Not Found"));
}

TEST(ClipOptions, ChapterFileNamesFromTheEngineAndTheVideosDuration)
{
    const auto chapter = ParseChapterFileName("chapter.002.Middle ⧸ part.mp4");
    ASSERT_TRUE(chapter);
    EXPECT_EQ(chapter->Number, 2);
    EXPECT_EQ(chapter->Title, "Middle ⧸ part");
    EXPECT_EQ(chapter->Ext, "mp4");
    EXPECT_EQ(ParseChapterFileName("chapter.010..webm")->Title, "");
    for (const char* bad : {"media.mp4", "chapter.mp4", "chapter.0x1.a.mp4", "chapter.000.a.mp4", "chapter.001.a.",
                            "chapter.001noext", "Chapter.001.a.mp4"})
        EXPECT_FALSE(ParseChapterFileName(bad)) << bad;

    EXPECT_EQ(PageDuration(R"({"duration": 8.5, "title": "x"})"), 8.5);
    for (const char* bad : {"", "[]", "{", R"({"duration": "8"})", R"({"duration": -1})", R"({"title": 1})"})
        EXPECT_FALSE(PageDuration(bad)) << bad;

    std::string error;
    EXPECT_EQ(FitSection({2, 5}, 8.0, error), (TTimeSection{2, 5}));
    EXPECT_EQ(FitSection({2, 50}, 8.0, error), (TTimeSection{2, 8}));
    EXPECT_EQ(FitSection({2, 50}, std::nullopt, error), (TTimeSection{2, 50}));
    EXPECT_FALSE(FitSection({9, 50}, 8.0, error));
    EXPECT_NE(error.find("starts after the video's end (8s)"), std::string::npos) << error;
}
