// SPDX-License-Identifier: GPL-3.0-or-later
// Recognition of the user's text and the text side of the three resolvers.
#include "sites/VideoSite.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"
#include "support/Skips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(SiteRecognition, EmptyAndBlankTextIsNothing)
{
    EXPECT_EQ(DetectVideoSite(""), vsNone);
    EXPECT_EQ(DetectVideoSite(" \t\r\n "), vsNone);
}

TEST(SiteRecognition, OtherWebAddressesAreWebPages)
{
    EXPECT_EQ(DetectVideoSite("http://vimeo.com/12345"), vsWebPage);
    EXPECT_EQ(DetectVideoSite("  HTTPS://127.0.0.1:8080/clip.mp4 \n"), vsWebPage);
    EXPECT_EQ(DetectVideoSite("http://www.wrzuta.pl"), vsWebPage);  // Wrzuta needs a "/" after the domain
    for (const char* text : {"http://", "https://", "http:///x", "ftp://127.0.0.1/a.mp4", "127.0.0.1/a.mp4",
                             "file:///tmp/a.mp4", "-http://x"})
        EXPECT_EQ(DetectVideoSite(text), vsNone) << text;
}

TEST(SiteRecognition, SiteMarksAndTheirCaseRules)
{
    EXPECT_EQ(DetectVideoSite("http://www.youtube.com/watch?v=abc"), vsYouTube);
    EXPECT_EQ(DetectVideoSite("http://youtube.com/watch?v=abc"), vsYouTube);
    EXPECT_EQ(DetectVideoSite("m.youtube.de/watch?v=abc"), vsYouTube);
    EXPECT_EQ(DetectVideoSite("HTTP://WWW.YouTube.COM/WATCH?V=abc"), vsYouTube);
    EXPECT_EQ(DetectVideoSite("  http://www.youtube.com/watch?v=abc\r\n"), vsYouTube);
    // The bare host at the very start carries no mark.
    EXPECT_EQ(DetectVideoSite("youtube.com/watch?v=abc"), vsNone);
    EXPECT_EQ(DetectVideoSite("youporn.com/watch/1"), vsNone);

    EXPECT_EQ(DetectVideoSite("http://wrzuta.pl/film/K/x"), vsWrzuta);
    EXPECT_EQ(DetectVideoSite("http://Someone.WRZUTA.PL/audio/K"), vsWrzuta);
    EXPECT_EQ(DetectVideoSite("wrzuta.pl/film/K"), vsNone);

    EXPECT_EQ(DetectVideoSite("http://www.youporn.com/watch/1"), vsYouPorn);
    EXPECT_EQ(DetectVideoSite("http://YOUPORN.com/watch/1"), vsYouPorn);

    // YouTube is tested first, then Wrzuta.
    EXPECT_EQ(DetectVideoSite("http://x.wrzuta.pl/film/K?ref=http://www.youtube.com/"), vsYouTube);
    EXPECT_EQ(DetectVideoSite("http://x.wrzuta.pl/film/K?ref=http://www.youporn.com/"), vsWrzuta);
}

TEST(SiteRecognition, LoopbackAddressesCarryingTheMarkInTheirPath)
{
    EXPECT_EQ(DetectVideoSite("http://127.0.0.1:8080/www.youtube.com/watch?v=abc"), vsYouTube);
    EXPECT_EQ(DetectVideoSite("http://127.0.0.1:8080/wrzuta.pl/film/KEY/x"), vsWrzuta);
    EXPECT_EQ(DetectVideoSite("http://127.0.0.1:8080/www.youporn.com/watch/1"), vsYouPorn);
}

TEST(SiteRecognition, LocalFiles)
{
    TempDir dir;
    // An existing file wins over the site marks in its name.
    const std::string file = dir.Write("clip.youtube.com.flv", "x");
    EXPECT_EQ(DetectVideoSite(file), vsLocalFile);
    // A directory is not a file to convert.
    const std::string sub = dir.File("www.youtube.com");
    std::filesystem::create_directory(sub);
    EXPECT_EQ(DetectVideoSite(sub), vsYouTube);
    EXPECT_EQ(DetectVideoSite(dir.Path()), vsNone);
    SKIP_ON_WINDOWS(LinuxConventions);
    // The existence test takes the text as given, blanks included.
    const std::string blanks = dir.Write("clip.flv ", "x");
    EXPECT_EQ(DetectVideoSite(blanks), vsLocalFile);
    EXPECT_EQ(DetectVideoSite(dir.File("clip.youtube.com.flv") + " "), vsYouTube);
    EXPECT_EQ(DetectVideoSite(dir.File("missing.avi")), vsNone);
}

TEST(SiteRecognition, ClipboardCleanUpAndDefaultExtensions)
{
    EXPECT_EQ(CleanUpClipboardUrl("http://www.youtube.com/V/abc/v/x", vsYouTube),
              "http://www.youtube.com/watch?v=abc/v/x");
    EXPECT_EQ(CleanUpClipboardUrl("http://x.wrzuta.pl/v/abc", vsWrzuta), "http://x.wrzuta.pl/v/abc");

    EXPECT_EQ(DefaultSiteExtension(vsYouTube, true), ".mp4");
    EXPECT_EQ(DefaultSiteExtension(vsYouTube, false), ".flv");
    EXPECT_EQ(DefaultSiteExtension(vsWrzuta, true), ".flv");
    EXPECT_EQ(DefaultSiteExtension(vsYouPorn, true), ".flv");
    EXPECT_EQ(DefaultSiteExtension(vsLocalFile, true), "");
    EXPECT_EQ(DefaultSiteExtension(vsNone, false), "");
}

TEST(YouTubeText, ChannelAddressesAndTheFetchedAddress)
{
    EXPECT_EQ(NormalizeYouTubeUrl("http://www.youtube.com/watch?v=abc"), "http://www.youtube.com/watch?v=abc");
    EXPECT_EQ(NormalizeYouTubeUrl("http://www.youtube.com/user/chan#p/u/0/Vid_01"),
              "http://www.youtube.com/watch?v=Vid_01");
    EXPECT_EQ(NormalizeYouTubeUrl("http://www.youtube.com/user/chan/"), "http://www.youtube.com/watch?v=");
    EXPECT_EQ(NormalizeYouTubeUrl("http://www.youtube.com/USER/chan/x"), "http://www.youtube.com/USER/chan/x");

    EXPECT_EQ(YouTubeFormatUrl("http://www.youtube.com/watch?v=abc", 5),
              "http://www.youtube.com/watch?v=abc&fmt=5");
    EXPECT_EQ(YouTubeFormatUrl("http://www.youtube.com/watch?v=abc&fmt=18", 22),
              "http://www.youtube.com/watch?v=abc&ffmt=18&fmt=22");
    EXPECT_EQ(YouTubeFormatUrl("http://www.youtube.com/user/c/0/xyz", 37),
              "http://www.youtube.com/watch?v=xyz&fmt=37");
}

namespace {
// Percent-encodes the characters a page's stream list carries encoded.
std::string Encode(const std::string& s)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        if (std::string(":/?&=,|%").find(c) != std::string::npos) {
            out += '%';
            out += hex[(static_cast<unsigned char>(c) >> 4) & 15];
            out += hex[c & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// A watch page whose stream list offers 22 (twice), 18, 34, 52, and a thumbnail.
std::string StreamPage()
{
    const std::string map =
        "22|http://a.cache.example/videoplayback?itag=22&id=AAAAbbbbCCCCdddd1234&sig=X1,"
        "18|http://m.cache.example/videoplayback?itag=18&id=0123456789abcdefXYZ&expire=9&key=yt1,"
        "22|http://B.cache.example/videoplayback?itag=22&id=EEEEffffGGGGhhhh5678&sig=X2,"
        "34|http://c.cache.example/videoplayback?itag=34&sig=nothing,"
        "52|http://d.cache.example/videoplayback?itag=52&id=1111222233334444&x=%26,"
        "http://i.example/vi/abc/default.jpg?itag=18&id=1";
    return "<html><head><title>Clip</title></head>\n<body><script>\nvar flashvars = \"fmt_url_map=" +
           Encode(map) + "\";\n</script></body></html>\n";
}
} // namespace

TEST(YouTubeText, StreamOfEachFormat)
{
    const std::string page = StreamPage();
    // Of two lines for 22 the one that sorts last with case ignored wins: "B" after "a".
    EXPECT_EQ(FindYouTubeStream(page, 22),
              "http://B.cache.example/videoplayback?itag=22&id=EEEEffffGGGGhhhh&sig=X2,34");
    // The identifier is cut to 16 characters; the other parameters stay as they were.
    EXPECT_EQ(FindYouTubeStream(page, 18),
              "http://m.cache.example/videoplayback?itag=18&id=0123456789abcdef&expire=9&key=yt1,22");
    // Format 5 is a plain substring test, so it also takes the line of 52.
    // The page is decoded once: a doubly encoded "&" stays "%26".
    EXPECT_EQ(FindYouTubeStream(page, 5),
              "http://d.cache.example/videoplayback?itag=52&id=1111222233334444&x=%26,");
    // A line without "id=" and a format the page lacks give nothing.
    EXPECT_EQ(FindYouTubeStream(page, 34), "");
    EXPECT_EQ(FindYouTubeStream(page, 37), "");
    EXPECT_EQ(FindYouTubeStream("", 22), "");
}

TEST(YouTubeText, LinesEqualButForCaseKeepTheFirst)
{
    const std::string page =
        "x=http://z.example/videoplayback?itag=18&id=abcdefghijklmnopq|"
        "http://Z.EXAMPLE/videoplayback?itag=18&id=abcdefghijklmnopq|"
        "http://a.example/videoplayback?itag=18&id=1";
    EXPECT_EQ(FindYouTubeStream(page, 18), "http://z.example/videoplayback?itag=18&id=abcdefghijklmnop");
}

TEST(WrzutaText, FileKey)
{
    EXPECT_EQ(GetWrzutaKey("http://someone.wrzuta.pl/film/AbC123/a_title"), "AbC123");
    EXPECT_EQ(GetWrzutaKey("http://someone.wrzuta.pl/film/AbC123"), "AbC123");
    EXPECT_EQ(GetWrzutaKey("http://someone.wrzuta.pl/FILM/AbC123/x"), "AbC123");
    EXPECT_EQ(GetWrzutaKey("http://someone.wrzuta.pl/audio/Snd9/x"), "Snd9");
    EXPECT_EQ(GetWrzutaKey("http://someone.wrzuta.pl/audio/A/film/F/x"), "F");
    EXPECT_EQ(GetWrzutaKey("http://someone.wrzuta.pl/obraz/K/x"), "");
    EXPECT_EQ(GetWrzutaKey(""), "");
}

TEST(WrzutaText, VideoAddressIsBuiltWithoutAnyRequest)
{
    // Port 9 (discard) is never contacted: a video page needs no request.
    EXPECT_EQ(GetWrzutaUrl("http://someone.wrzuta.pl/film/AbC123/a_title"), "http://someone.wrzuta.pl/sr/v/AbC123");
    EXPECT_EQ(GetWrzutaUrl("http://127.0.0.1:9/wrzuta.pl/Film/K1"), "http://127.0.0.1:9/sr/v/K1");
    EXPECT_EQ(GetWrzutaUrl("http://someone.wrzuta.pl/obraz/K/x"), "");
    EXPECT_EQ(GetWrzutaUrl("http://someone.wrzuta.pl/film//x"), "");
}

TEST(WrzutaText, LastFileIdLineWins)
{
    EXPECT_EQ(FindWrzutaFileId("<file>\n<fileId>http://a/1</fileId>\r\n<FILEID><![CDATA[http://b/2]]></FileId>\n</file>"),
              "http://b/2");
    EXPECT_EQ(FindWrzutaFileId("<fileId><![CDATA[http://b/2?x=1&y=2]]></fileId>"), "http://b/2?x=1&y=2");
    // Only lines that begin with the tag count.
    EXPECT_EQ(FindWrzutaFileId("<fileId>http://a/1</fileId>\n  <fileId>http://c/3</fileId>"), "http://a/1");
    EXPECT_EQ(FindWrzutaFileId("<file>nothing</file>"), "");
}

TEST(YouPornText, FirstEncodeUriComponentLine)
{
    EXPECT_EQ(FindYouPornMedia("var a = 1;\n"
                               "so.addVariable('file', encodeURIComponent('http://v.example/a.flv?s=1&xml=1&t=2'));\n"
                               "so.addVariable('file', encodeURIComponent('http://v.example/better.flv'));\n"),
              "http://v.example/a.flv?s=1");
    // Without "&xml" the whole rest of the line stays, less quotes and brackets.
    EXPECT_EQ(FindYouPornMedia("f = encodeURIComponent('http://v.example/b.flv?q=(1)');"),
              "http://v.example/b.flv?q=1;");
    // The word counts only in its own letter case.
    EXPECT_EQ(FindYouPornMedia("f = encodeuricomponent('http://v.example/c.flv');\nnothing"), "");
    EXPECT_EQ(FindYouPornMedia(""), "");
}
