// SPDX-License-Identifier: GPL-3.0-or-later
// What the user may ask of the page engine: the format choices, subtitles,
// cookies, the speed limit, and which engine version is told what.
#include "engine/EngineOptions.h"
#include "app/Texts.h"
#include "engine/PageEngine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
bool Has(const std::vector<std::string>& args, const std::string& arg)
{
    return std::find(args.begin(), args.end(), arg) != args.end();
}
} // namespace

TEST(FormatChoices, QuickChoicesAndTheEnginesIds)
{
    EXPECT_EQ(ParseFormatChoice("best")->Kind, TFormatChoice::TKind::Best);
    EXPECT_EQ(ParseFormatChoice("AUDIO")->Kind, TFormatChoice::TKind::Audio);
    const auto hd = ParseFormatChoice("720p");
    ASSERT_TRUE(hd);
    EXPECT_EQ(hd->Kind, TFormatChoice::TKind::UpTo);
    EXPECT_EQ(hd->Height, 720);
    EXPECT_EQ(EngineFormatFor(*hd).Selector, "bv*[height<=720]+ba/b[height<=720]/wv*+ba/w");
    EXPECT_EQ(EngineFormatFor(*ParseFormatChoice("audio")).Selector, "ba/b");
    EXPECT_EQ(EngineFormatFor(*ParseFormatChoice("best")), TEngineFormat{});

    const auto id = ParseFormatChoice("hls-1080p+dash_audio.2");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->Kind, TFormatChoice::TKind::Id);
    EXPECT_EQ(EngineFormatFor(*id).Selector, "hls-1080p+dash_audio.2");
    for (const char* text : {"best", "1080p", "480p", "audio", "137+140"})
        EXPECT_EQ(FormatChoiceText(*ParseFormatChoice(text)), text);
    // No selector language, no option, nothing empty.
    for (const char* bad : {"", "bv*[height<=720]", "a/b", "--exec=x", " ", "+", "a b", "a\nb"})
        EXPECT_FALSE(ParseFormatChoice(bad)) << bad;
    EXPECT_FALSE(ParseFormatChoice(std::string(101, 'a')));
}

TEST(EngineOptionValues, SubtitlesCookiesAndRates)
{
    EXPECT_EQ(ParseSubtitleLanguages("en, pl"), "en,pl");
    EXPECT_EQ(ParseSubtitleLanguages("ALL"), "all");
    EXPECT_EQ(ParseSubtitleLanguages("pt-BR"), "pt-BR");
    for (const char* bad : {"", ",", "en,", "en;rm -rf", "en pl", ".*"})
        EXPECT_FALSE(ParseSubtitleLanguages(bad)) << bad;

    EXPECT_EQ(ParseCookiesBrowser("Firefox"), "firefox");
    EXPECT_EQ(ParseCookiesBrowser("chromium:/home/u/.config/chromium/Default"), "chromium:/home/u/.config/chromium/Default");
    for (const char* bad : {"", "safari", "firefox:", "firefox:a::b", "firefox: x", "brave:\n"})
        EXPECT_FALSE(ParseCookiesBrowser(bad)) << bad;

    EXPECT_EQ(ParseRateLimit("500K"), 500 * 1024);
    EXPECT_EQ(ParseRateLimit("2M"), 2 * 1024 * 1024);
    EXPECT_EQ(ParseRateLimit("1.5m"), 1536 * 1024);
    EXPECT_EQ(ParseRateLimit("200KB/s"), 200 * 1024);
    EXPECT_EQ(ParseRateLimit("4096"), 4096);
    for (const char* bad : {"", "0", "100", "K", "-5K", "1e9", "2X", "3G"})
        EXPECT_FALSE(ParseRateLimit(bad)) << bad;
    EXPECT_EQ(RateLimitText(500 * 1024), "500K");
    EXPECT_EQ(RateLimitText(2 * 1024 * 1024), "2M");
}

TEST(EngineOptionArgs, EveryOptionAndOnlyWhatTheEngineKnows)
{
    TEngineOptions options;
    // The default: title and chapters, and a cover picture only where it fits.
    std::vector<std::string> args = EngineOptionArgs(options, "2023.03.04", "", "mp4");
    EXPECT_TRUE(Has(args, "--embed-metadata"));
    EXPECT_TRUE(Has(args, "--embed-chapters"));
    EXPECT_TRUE(Has(args, "--embed-thumbnail"));
    EXPECT_FALSE(Has(EngineOptionArgs(options, "2023.03.04", "", "webm"), "--embed-thumbnail"));
    EXPECT_FALSE(Has(EngineOptionArgs(options, "2023.03.04", "", ""), "--embed-thumbnail"));
    options.Metadata = false;
    EXPECT_TRUE(EngineOptionArgs(options, "2023.03.04", "", "mp4").empty());

    options.Subtitles = "en,pl";
    options.EmbedSubtitles = true;
    options.CookiesBrowser = "firefox:/p";
    options.RateLimit = 200 * 1024;
    args = EngineOptionArgs(options, "2023.03.04", "", "");
    const std::vector<std::string> expected = {"--embed-subs", "--sub-langs", "en,pl", "--convert-subs", "srt",
                                               "--cookies-from-browser", "firefox:/p", "--limit-rate", "204800"};
    EXPECT_EQ(args, expected);
    options.EmbedSubtitles = false;
    EXPECT_TRUE(Has(EngineOptionArgs(options, "", "", ""), "--write-subs"));
    // A file's copy goes instead of the browser.
    args = EngineOptionArgs(options, "", ".cookies.txt", "");
    EXPECT_TRUE(Has(args, "--cookies"));
    EXPECT_FALSE(Has(args, "--cookies-from-browser"));

    // Newer options only to a newer engine; an unknown version is the oldest.
    EXPECT_TRUE(NewerEngineArgs("2023.03.04").empty());
    EXPECT_TRUE(NewerEngineArgs("").empty());
    EXPECT_TRUE(NewerEngineArgs("garbage").empty());
    EXPECT_TRUE(Has(NewerEngineArgs("2025.11.12"), "--progress-delta"));
    EXPECT_TRUE(Has(EngineOptionArgs(options, "2024.04.09", "", ""), "--progress-delta"));
}

TEST(EngineOptionArgs, SignInReasonsAndTheFormatList)
{
    EXPECT_TRUE(EngineWantsSignIn("[generic] x: Sign in to confirm your age"));
    EXPECT_TRUE(EngineWantsSignIn("unable to download video data: HTTP Error 401: Unauthorized"));
    EXPECT_TRUE(EngineWantsSignIn("This video is only available for registered users. Use --cookies"));
    EXPECT_FALSE(EngineWantsSignIn("unable to download webpage: HTTP Error 404: Not Found"));
    EXPECT_NE(SignInHint(false).find("Sign in with the cookies of:"), std::string::npos);
    EXPECT_NE(SignInHint(true).find("Zaloguj ciasteczkami z:"), std::string::npos);

    TPageFormat video;
    video.Id = "dash-v1";
    video.Ext = "mp4";
    video.Width = 320;
    video.Height = 240;
    video.Fps = 25;
    video.VideoCodec = "avc1.64000d";
    video.AudioCodec = "none";
    video.Size = 1536;
    EXPECT_EQ(FormatListLine(video), "dash-v1\tmp4\t320x240\t25\tavc1.64000d\t1.50 KB");
    TPageFormat audio;
    audio.Id = "a\tb\x1b[2J";
    audio.VideoCodec = "none";
    audio.AudioCodec = "mp4a.40.2";
    EXPECT_EQ(FormatListLine(audio), "a b\t-\taudio only\t-\tmp4a.40.2\t-");

    // The dialog's line leaves out what the page does not tell, in the user's language.
    EXPECT_EQ(FormatChoiceLine(video, false), "dash-v1: mp4, 320x240, 25 fps, avc1.64000d, 1.50 KB");
    EXPECT_EQ(FormatChoiceLine(audio, false), "a b: audio only, mp4a.40.2");
    EXPECT_EQ(FormatChoiceLine(audio, true), "a b: tylko d\u017awi\u0119k, mp4a.40.2");
    TPageFormat bare;
    bare.Id = "0";
    bare.Ext = "mp4";
    EXPECT_EQ(FormatChoiceLine(bare, true), "0: mp4");
    bare.Ext.clear();
    EXPECT_EQ(FormatChoiceLine(bare, false), "0");
}

TEST(EngineOptionArgs, ThePagesSubtitleLanguagesAndFormatDetails)
{
    const TPageInfo info = ParsePageInfo(
        R"({"title":"T","subtitles":{"en":[{"url":"a.vtt","ext":"vtt"}],"pl":[],"x\u001b[2J":{}},)"
        R"("automatic_captions":{"de":[]},"formats":[{"format_id":"v1","width":640,"height":360,"fps":29.97,)"
        R"("vcodec":"avc1","acodec":"none"}]})");
    ASSERT_TRUE(info.Found);
    EXPECT_EQ(info.SubtitleLanguages, (std::vector<std::string>{"en", "pl"}));  // no code, no language
    ASSERT_EQ(info.Formats.size(), 1u);
    EXPECT_EQ(FormatListLine(info.Formats[0]), "v1\t-\t640x360\t29.97\tavc1\t-");
    // Named twice, the last one counts.
    EXPECT_EQ(ParsePageInfo(R"({"url":"u","subtitles":{"en":[]},"subtitles":{"fr":[]}})").SubtitleLanguages,
              std::vector<std::string>{"fr"});
}
