// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the page engine's page information, and the format choices of the
// dialog's YouTube buttons.
#include "engine/PageEngine.h"

#include <gtest/gtest.h>

TEST(PageInfo, EscapesLastMembersAndWhatIsRefused)
{
    const TPageInfo info = ParsePageInfo(R"( {"title": [1, -2.5e1, true, false, null], "url": "u",
        "title": "x\"\\\/\n\u0041\u00e9\u20ac\ud83d\ude00", "ext": 5, "formats": [{"height": "720"}], "o": {}} )");
    ASSERT_TRUE(info.Found);
    EXPECT_EQ(info.Title, "x\"\\/\nA\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");  // the last title counts
    EXPECT_EQ(info.Ext, "");                                                     // of another kind: missing
    ASSERT_EQ(info.Formats.size(), 1u);
    EXPECT_EQ(info.Formats[0].Height, 0);

    for (const char* bad : {"", "{", "{\"url\": [1,]}", "{\"a\" 1}", "\"open", "{\"url\": 01}", "{\"url\": \"u\"} 2",
                            "{\"url\": tru}", "{\"url\": \"tab\there\"}", "{\"url\": \"\\x\"}", "{\"url\": \"u\",}"}) {
        const TPageInfo refused = ParsePageInfo(bad);
        EXPECT_FALSE(refused.Found) << bad;
        EXPECT_FALSE(refused.TooLarge) << bad;
    }
}

TEST(PageInfo, TooMuchIsRefusedAsTooLarge)
{
    // Deep nesting, too many values, too many formats: refused, not a crash.
    const std::string deep = "{\"url\": \"u\", \"x\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    std::string values = "{\"url\": \"u\", \"x\": [";
    for (std::size_t i = 0; i < PageInfoMaxNodes; ++i)
        values += "0,";
    values += "0]}";
    std::string formats = "{\"formats\": [";
    for (std::size_t i = 0; i <= PageInfoMaxFormats; ++i)
        formats += "{},";
    formats += "{}]}";
    const std::string* const shapes[] = {&deep, &values, &formats};
    for (const std::string* text : shapes) {
        const TPageInfo info = ParsePageInfo(*text);
        EXPECT_FALSE(info.Found);
        EXPECT_TRUE(info.TooLarge);
        EXPECT_EQ(info.Error, PageInfoTooLargeText);
    }
    // Within the limits all is read; a long title is cut.
    const TPageInfo nested = ParsePageInfo("{\"url\": \"u\", \"x\": " + std::string(200, '[') + std::string(200, ']') +
                                           ", \"title\": \"" + std::string(100000, 't') + "\"}");
    EXPECT_TRUE(nested.Found);
    EXPECT_EQ(nested.Title, std::string(4096, 't'));
}

TEST(PageInfo, TitleFormatsAndSizes)
{
    const TPageInfo info = ParsePageInfo(R"({
        "title": "A \"clip\" / %(id)s", "ext": "mp4",
        "formats": [
            {"format_id": "140", "ext": "m4a", "vcodec": "none", "acodec": "mp4a.40.2", "filesize": 1000},
            {"format_id": "137", "ext": "mp4", "vcodec": "avc1", "acodec": "none", "height": 1080, "filesize_approx": 5000.0},
            {"format_id": "18", "ext": "mp4", "height": 360.0},
            "not a format"
        ],
        "requested_formats": [{"filesize": 5000}, {"filesize_approx": 1000}]
    })");
    ASSERT_TRUE(info.Found);
    EXPECT_EQ(info.Title, "A \"clip\" / %(id)s");
    EXPECT_EQ(info.Ext, "mp4");
    EXPECT_EQ(info.Size, 6000);
    ASSERT_EQ(info.Formats.size(), 3u);
    EXPECT_EQ(info.Formats[0].VideoCodec, "none");
    EXPECT_EQ(info.Formats[1].Height, 1080);
    EXPECT_EQ(info.Formats[1].Size, 5000);
    EXPECT_EQ(info.Formats[2].Height, 360);

    // One part of unknown size: the whole is unknown.
    EXPECT_EQ(ParsePageInfo(R"({"url": "http://127.0.0.1/a", "requested_formats": [{"filesize": 5}, {}]})").Size, 0);
    // A list the engine made of the page: its first entry.
    const TPageInfo listed = ParsePageInfo(R"({"_type": "playlist", "entries": [{"title": "First", "url": "u"}]})");
    EXPECT_TRUE(listed.Found);
    EXPECT_EQ(listed.Title, "First");

    for (const char* nothing : {"", "garbage", "[]", "{}", R"({"title": "no media"})", R"({"_type": "playlist", "entries": []})",
                                R"({"formats": "x"})"})
        EXPECT_FALSE(ParsePageInfo(nothing).Found) << nothing;
}

TEST(PageInfo, APagesOnlyVideoIsNamedAfterThePageWithoutItsNumber)
{
    // What the engine's generic reader answers for a page with one video.
    EXPECT_EQ(ParsePageInfo(R"J({"_type": "video", "id": "one-1", "title": "My Page (1)", "url": "u"})J").Title, "My Page");
    EXPECT_EQ(ParsePageInfo(R"J({"_type": "playlist", "title": "My Page",
                               "entries": [{"id": "x-1", "title": "My Page (1)", "url": "u"}]})J").Title,
              "My Page");
    // Several videos keep their numbers; so does a title that is its own.
    EXPECT_EQ(ParsePageInfo(R"J({"_type": "playlist", "entries": [{"id": "p-1", "title": "Two (1)", "url": "a"},
                                                               {"id": "p-2", "title": "Two (2)", "url": "b"}]})J").Title,
              "Two (1)");
    EXPECT_EQ(ParsePageInfo(R"J({"id": "abc", "title": "Part (1)", "url": "u"})J").Title, "Part (1)");
    EXPECT_EQ(ParsePageInfo(R"J({"id": "a-1", "title": " (1)", "url": "u"})J").Title, " (1)");
}

TEST(PageInfo, TheEnginesReasonIsItsLastErrorLine)
{
    EXPECT_EQ(EngineErrorText("WARNING: x\nERROR: first\nERROR: [generic] Unsupported URL: http://127.0.0.1/\n"),
              "[generic] Unsupported URL: http://127.0.0.1/");
    EXPECT_EQ(EngineErrorText("nothing wrong\n"), "");
    EXPECT_EQ(EngineErrorText("ERROR: " + std::string(5000, 'x')).size(), 300u);
}

TEST(PageInfo, YouTubeButtonsMapOntoHeightAndContainer)
{
    const TEngineFormat mp4 = YouTubeEngineFormat(22);
    EXPECT_EQ(mp4.Selector, "bv*[height<=720][ext=mp4]+ba[ext=m4a]/b[height<=720][ext=mp4]/bv*[height<=720]+ba/b[height<=720]/b");
    EXPECT_EQ(mp4.MergeFormat, "mp4");
    const TEngineFormat flv = YouTubeEngineFormat(5);
    EXPECT_EQ(flv.Selector, "b[height<=240][ext=flv]/bv*[height<=240]+ba/b[height<=240]/b");
    EXPECT_EQ(flv.MergeFormat, "");
    EXPECT_EQ(YouTubeEngineFormat(99), TEngineFormat{});

    TPageInfo page;
    page.Formats = {{"a", "webm", "vp9", "none", 1080, 0}, {"b", "mp4", "avc1", "none", 360, 0},
                    {"c", "m4a", "none", "mp4a", 720, 0}};
    EXPECT_FALSE(PageOffersYouTubeFormat(page, 37));  // 1080p only in WebM
    EXPECT_TRUE(PageOffersYouTubeFormat(page, 18));   // 360p MP4
    EXPECT_TRUE(PageOffersYouTubeFormat(page, 34));   // 360p, any container
    EXPECT_FALSE(PageOffersYouTubeFormat(page, 22));  // "720" is audio only
    EXPECT_FALSE(PageOffersYouTubeFormat(page, 35));
}

TEST(PageInfo, TheAddressAlwaysFollowsTheEndOfOptions)
{
    const std::vector<std::string> args = PageInfoArgs("-o/tmp/x --exec=rm", YouTubeEngineFormat(18));
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[args.size() - 2], "--");
    EXPECT_EQ(args.back(), "-o/tmp/x --exec=rm");
    EXPECT_NE(std::find(args.begin(), args.end(), "--ignore-config"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "--no-playlist"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "-J"), args.end());
}
