// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a page's list of videos from the page engine's answer: the shapes the
// engine gives, and answers built to mislead or to use up memory.
#include "engine/PageList.h"
#include "engine/PageEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstdio>

TEST(PageList, LinksToPagesAndVideosOfThePageItself)
{
    // A flat list: each entry a link to a page of its own.
    const TPageList links = ParsePageList(R"J({"_type": "playlist", "title": "Talks", "id": "PL1",
        "webpage_url": "https://example.org/list", "entries": [
        {"_type": "url", "ie_key": "Youtube", "url": "https://www.youtube.com/watch?v=a", "title": "One", "ext": "webm"},
        {"_type": "url_transparent", "url": "https://example.org/v/2", "title": "Two"}]})J",
                                          "https://example.org/list");
    ASSERT_TRUE(links.IsList);
    EXPECT_EQ(links.Title, "Talks");
    ASSERT_EQ(links.Entries.size(), 2u);
    EXPECT_EQ(links.Entries[0].Url, "https://www.youtube.com/watch?v=a");
    EXPECT_EQ(links.Entries[0].Title, "One");
    EXPECT_EQ(links.Entries[0].Ext, "");  // a link's page decides
    EXPECT_EQ(links.Entries[1].Url, "https://example.org/v/2");

    // A page with several <video> elements: the entries' page is the list's own,
    // so each is addressed by its media; a video with a page of its own by that.
    const TPageList videos = ParsePageList(R"J({"_type": "playlist", "title": "My list", "id": "page",
        "webpage_url": "http://127.0.0.1:1/page.html", "entries": [
        {"id": "page-1", "title": "My list (1)", "url": "http://127.0.0.1:1/a.mp4", "ext": "mp4",
         "webpage_url": "http://127.0.0.1:1/page.html"},
        {"id": "page-2", "title": "My list (2)", "url": "http://127.0.0.1:1/b.webm", "ext": "webm",
         "webpage_url": "http://127.0.0.1:1/page.html?x"},
        {"id": "x", "title": "Own page", "webpage_url": "http://127.0.0.1:1/v/3", "formats": [{"url": "http://c"}]}]})J",
                                           "http://127.0.0.1:1/page.html?x");
    ASSERT_TRUE(videos.IsList);
    ASSERT_EQ(videos.Entries.size(), 3u);
    EXPECT_EQ(videos.Entries[0].Url, "http://127.0.0.1:1/a.mp4");
    EXPECT_EQ(videos.Entries[0].Ext, "mp4");
    EXPECT_EQ(videos.Entries[1].Url, "http://127.0.0.1:1/b.webm");
    EXPECT_EQ(videos.Entries[2].Url, "http://127.0.0.1:1/v/3");
    EXPECT_EQ(videos.Skipped, 0u);

    // One video, or a page that is no list, is no list.
    EXPECT_FALSE(ParsePageList(R"J({"_type": "playlist", "entries": [{"_type": "url", "url": "http://a/1"}]})J", "").IsList);
    EXPECT_FALSE(ParsePageList(R"J({"title": "x", "url": "http://a/1.mp4", "entries": [{"_type": "url", "url": "http://a/1"},
        {"_type": "url", "url": "http://a/2"}]})J", "").IsList);
}

TEST(PageList, EveryFieldIsCheckedAndOddOnesCountAsMissing)
{
    const std::string longUrl = "http://a/" + std::string(1100, 'x');
    const std::string longTitle(100000, 't');
    const TPageList list = ParsePageList(R"J({"_type": "playlist", "title": ["not", "text"], "entries": [
        {"_type": "url", "url": "file:///etc/passwd", "title": "local"},
        {"_type": "url", "url": "javascript:alert(1)"},
        {"_type": "url", "url": "--exec=touch x"},
        {"_type": "url", "url": "http://a/with space"},
        {"_type": "url", "url": "http://a/line\nbreak"},
        {"_type": "url", "url": ")J" + longUrl + R"J("},
        {"_type": "url", "url": 12},
        {"_type": "url", "url": {"x": "http://a/nested"}},
        {"_type": "playlist", "url": "http://a/inner", "entries": [{"_type": "url", "url": "http://a/deeper"}]},
        "http://a/not-an-object", 7, null, [1, 2],
        {"_type": "url", "url": "http://a/first", "url": "HTTPS://a/last", "title": ")J" + longTitle + R"J("},
        {"_type": "url", "url": "http://a/ok", "title": 5, "ext": {"x": 1}},
        {"_type": "url", "url": "http://a/twice", "entries": [{"_type": "url", "url": "http://a/z"}]}],
        "other": {"entries": [{"_type": "url", "url": "http://a/elsewhere"}]}})J",
                                         "");
    ASSERT_TRUE(list.IsList);
    EXPECT_EQ(list.Title, "");
    ASSERT_EQ(list.Entries.size(), 3u);
    EXPECT_EQ(list.Entries[0].Url, "HTTPS://a/last");  // the last member counts
    EXPECT_EQ(list.Entries[0].Title.size(), 1024u);   // cut
    EXPECT_EQ(list.Entries[1].Url, "http://a/ok");
    EXPECT_EQ(list.Entries[1].Title, "");
    EXPECT_EQ(list.Entries[1].Ext, "");
    EXPECT_EQ(list.Entries[2].Url, "http://a/twice");
    EXPECT_EQ(list.Skipped, 13u);

    // A second "entries" replaces the first.
    const TPageList again = ParsePageList(R"J({"_type": "playlist", "entries": [{"_type": "url", "url": "http://a/1"},
        {"_type": "url", "url": "http://a/2"}], "entries": [{"_type": "url", "url": "http://b/1"},
        {"_type": "url", "url": "http://b/2"}, {"_type": "url", "url": "http://b/3"}]})J", "");
    ASSERT_EQ(again.Entries.size(), 3u);
    EXPECT_EQ(again.Entries[0].Url, "http://b/1");

    for (const char* bad : {"", "[]", "\"playlist\"", "{\"_type\": \"playlist\", \"entries\": [", "{\"_type\": 1}",
                            "{\"_type\": \"playlist\", \"entries\": {\"a\": {\"url\": \"http://a/1\"}}}"})
        EXPECT_FALSE(ParsePageList(bad, "").IsList) << bad;
}

TEST(PageList, AHugeListIsCutAndTooMuchIsRefused)
{
    // Twice the entries kept: the rest are left out and counted.
    std::string json = R"J({"_type": "playlist", "title": "Many", "entries": [)J";
    const std::size_t count = 2 * PageListMaxEntries;
    for (std::size_t i = 0; i < count; ++i)
        json += std::string(i ? "," : "") + R"J({"_type": "url", "url": "https://example.org/watch?v=)J" +
                std::to_string(i) + R"J(", "title": "Video )J" + std::to_string(i) + R"J(", "n": [1, 2, 3]})J";
    json += "]}";
    const auto start = std::chrono::steady_clock::now();
    const TPageList list = ParsePageList(json, "");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("%zu entries (%zu bytes) read in %lld ms\n", count, json.size(), static_cast<long long>(took.count()));
    ASSERT_TRUE(list.IsList);
    EXPECT_TRUE(list.Cut);
    ASSERT_EQ(list.Entries.size(), PageListMaxEntries);
    EXPECT_EQ(list.Entries.back().Title, "Video " + std::to_string(PageListMaxEntries - 1));
    EXPECT_EQ(list.Skipped, count - PageListMaxEntries);

    // Nesting and values beyond the limits: refused as too large, not a crash.
    const std::string deep = R"J({"_type": "playlist", "entries": [)J" + std::string(100000, '[') +
                             std::string(100000, ']') + "]}";
    std::string values = R"J({"_type": "playlist", "x": [)J";
    for (std::size_t i = 0; i < PageInfoMaxNodes; ++i)
        values += "0,";
    values += "0]}";
    for (const std::string* text : {&deep, static_cast<const std::string*>(&values)}) {
        const TPageList refused = ParsePageList(*text, "");
        EXPECT_FALSE(refused.IsList);
        EXPECT_TRUE(refused.TooLarge);
        EXPECT_EQ(refused.Error, PageInfoTooLargeText);
    }
}

TEST(PageList, TheEngineIsAskedForAFlatListWithTheAddressLast)
{
    const std::vector<std::string> args = PageListArgs("--exec=x");
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(args[args.size() - 2], "--");
    EXPECT_EQ(args.back(), "--exec=x");
    EXPECT_EQ(args.front(), "--ignore-config");
    for (const char* needed : {"--flat-playlist", "--yes-playlist", "-J"})
        EXPECT_NE(std::find(args.begin(), args.end(), needed), args.end()) << needed;
}
