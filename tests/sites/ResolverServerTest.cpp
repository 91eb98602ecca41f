// SPDX-License-Identifier: GPL-3.0-or-later
// The resolvers against pages and media files served on 127.0.0.1.
#include "net/ZQ_Internet.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

namespace {
const std::string Mp4Head("\0\0\0\x1C""ftypisom\0\0\x02\0", 16);

// How many requests were made for a path.
std::size_t CountRequests(const testhttp::TestHttpServer& server, const std::string& path)
{
    std::size_t n = 0;
    for (const testhttp::Request& r : server.Requests())
        n += r.path == path ? 1 : 0;
    return n;
}

std::string PercentEncode(const std::string& s)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '.' || c == '-' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}
} // namespace

class YouTubeResolver : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Streams for 22 (two lines that sort apart only by letter case), 18 and 52.
        const std::string map =
            "22|" + server.Url("/v22a/videoplayback?itag=22&id=aaaaaaaaaaaaaaaaZZZ&sig=1") + "," +
            "18|" + server.Url("/v18/videoplayback?itag=18&id=1234567890abcdef0&expire=5") + "," +
            "22|" + server.Url("/V22B/videoplayback?itag=22&id=bbbbbbbbbbbbbbbbYYY&sig=2") + "," +
            "52|" + server.Url("/v52/videoplayback?itag=52&id=cccccccccccccccc") + ",";
        page = "<html><head><title>A clip</title></head><body>\n<script>var cfg = {\"fmt_url_map\": \"" +
               PercentEncode(map) + "\"};</script>\n</body></html>\n";
        server.Serve("/www.youtube.com/watch", page);
        server.Serve("/V22B/videoplayback", Mp4Head + "rest of the file", "video/mp4");
        server.Serve("/v22a/videoplayback", "FLV\x01\x05", "video/x-flv");
        server.Serve("/v18/videoplayback", "FLV\x01\x05 body", "video/x-flv");
        server.Serve("/v52/videoplayback", "<html>not media</html>");
    }
    testhttp::TestHttpServer server;
    std::string page;
};

TEST_F(YouTubeResolver, ResolvesTheChosenFormatAndSniffsItsType)
{
    const TYT_MovieItem item = GetYouTubeMovie(server.Url("/www.youtube.com/watch?v=abc&fmt=18"), 22);
    EXPECT_TRUE(item.Found);
    EXPECT_EQ(item.URL, server.Url("/V22B/videoplayback?itag=22&id=bbbbbbbbbbbbbbbb&sig=2,52"));
    EXPECT_EQ(item.Extension, ".mp4");

    // The site sees the user's format neutralised and the chosen one appended.
    const std::vector<testhttp::Request> requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().target, "/www.youtube.com/watch?v=abc&ffmt=18&fmt=22");
    EXPECT_EQ(CountRequests(server, "/V22B/videoplayback"), 1u);
    EXPECT_EQ(CountRequests(server, "/v22a/videoplayback"), 0u);
}

TEST_F(YouTubeResolver, TypeUnknownAndFormatMissing)
{
    const TYT_MovieItem flv = GetYouTubeMovie(server.Url("/www.youtube.com/watch?v=abc"), 18);
    EXPECT_TRUE(flv.Found);
    EXPECT_EQ(flv.URL, server.Url("/v18/videoplayback?itag=18&id=1234567890abcdef&expire=5,22"));
    EXPECT_EQ(flv.Extension, ".flv");

    // Format 5 takes the line of 52; its body is no media type the program knows.
    const TYT_MovieItem unknown = GetYouTubeMovie(server.Url("/www.youtube.com/watch?v=abc"), 5);
    EXPECT_TRUE(unknown.Found);
    // The "," after the identifier is its 17th character and falls to the cut.
    EXPECT_EQ(unknown.URL, server.Url("/v52/videoplayback?itag=52&id=cccccccccccccccc"));
    EXPECT_EQ(unknown.Extension, "");

    const TYT_MovieItem none = GetYouTubeMovie(server.Url("/www.youtube.com/watch?v=abc"), 37);
    EXPECT_FALSE(none.Found);
    EXPECT_EQ(none.URL, "");
    EXPECT_EQ(none.Extension, "");
}

TEST_F(YouTubeResolver, ProbeFillsTheSlotsInFormatOrder)
{
    const TYT_Info_NEW info = GetYouTubeFormats(server.Url("/www.youtube.com/watch?v=abc"));
    const bool expected[6] = {true, false, false, true, true, false};  // 5, 34, 35, 18, 22, 37
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(info[i].Found, expected[i]) << "slot " << i + 1;
    EXPECT_EQ(info[3].Extension, ".flv");
    EXPECT_EQ(info[4].Extension, ".mp4");

    std::vector<std::string> formats;
    for (const testhttp::Request& r : server.Requests())
        if (r.path == "/www.youtube.com/watch")
            formats.push_back(r.query.substr(r.query.rfind("fmt=") + 4));
    EXPECT_EQ(formats, (std::vector<std::string>{"5", "34", "35", "18", "22", "37"}));
}

TEST_F(YouTubeResolver, OnlyTheFirstFiftyChunksAreRead)
{
    server.Serve("/far/www.youtube.com/watch", std::string(50 * 1024, ' ') + page);
    server.Serve("/near/www.youtube.com/watch", std::string(40 * 1024, ' ') + page);
    EXPECT_FALSE(GetYouTubeMovie(server.Url("/far/www.youtube.com/watch?v=abc"), 22).Found);
    EXPECT_TRUE(GetYouTubeMovie(server.Url("/near/www.youtube.com/watch?v=abc"), 22).Found);
}

TEST(YouTubeResolverFailures, NoServerOrNoPage)
{
    testhttp::TestHttpServer server;
    EXPECT_FALSE(GetYouTubeMovie(server.Url("/www.youtube.com/watch?v=none"), 22).Found);
    EXPECT_FALSE(GetYouTubeMovie("http://127.0.0.1:1/www.youtube.com/watch?v=x", 22).Found);
    EXPECT_FALSE(GetYouTubeMovie("", 22).Found);
}

class WrzutaResolver : public ::testing::Test {
protected:
    testhttp::TestHttpServer server;
};

TEST_F(WrzutaResolver, AudioAddressComesFromTheDescription)
{
    const std::string page = server.Url("/wrzuta.pl/audio/Snd1/a_song");
    EXPECT_EQ(DetectVideoSite(page), vsWrzuta);
    server.Serve("/wrzuta.pl/xml/plik/Snd1/a_song",
                 "<?xml version=\"1.0\"?>\r\n<file>\r\n<fileId>" + server.Url("/first.mp3") +
                     "</fileId>\r\n<fileId><![CDATA[" + server.Url("/files/snd1.mp3?x=1&y=2") +
                     "]]></fileId>\r\n</file>\r\n",
                 "text/xml");
    server.Serve("/files/snd1.mp3", "ID3\x03\x00 tags", "audio/mpeg");

    const std::string media = GetWrzutaUrl(page);
    EXPECT_EQ(media, server.Url("/files/snd1.mp3?x=1&y=2"));
    EXPECT_EQ(DetectMediaExtension(media, ".flv", true), ".mp3");
    EXPECT_EQ(CountRequests(server, "/wrzuta.pl/xml/plik/Snd1/a_song"), 1u);
}

TEST_F(WrzutaResolver, WithoutAUsableDescriptionTheBuiltAddressStays)
{
    server.Serve("/wrzuta.pl/xml/plik/Snd2/x", "<file><name>no id</name></file>", "text/xml");
    EXPECT_EQ(GetWrzutaUrl(server.Url("/wrzuta.pl/audio/Snd2/x")), server.Url("/sr/v/Snd2"));
    // Missing description (404 page).
    EXPECT_EQ(GetWrzutaUrl(server.Url("/wrzuta.pl/audio/Snd3")), server.Url("/sr/v/Snd3"));
    // No server at all.
    EXPECT_EQ(GetWrzutaUrl("http://127.0.0.1:1/wrzuta.pl/audio/Snd4/x"), "http://127.0.0.1:1/sr/v/Snd4");
}

TEST_F(WrzutaResolver, VideoAndMixedCaseAudioNeedNoRequest)
{
    EXPECT_EQ(GetWrzutaUrl(server.Url("/wrzuta.pl/film/Vid1/x")), server.Url("/sr/v/Vid1"));
    EXPECT_EQ(GetWrzutaUrl(server.Url("/wrzuta.pl/Audio/Snd5/x")), server.Url("/sr/v/Snd5"));
    EXPECT_TRUE(server.Requests().empty());
}

TEST(YouPornResolver, CutsTheAddressOutOfTheFirstStatement)
{
    testhttp::TestHttpServer server;
    const std::string media = server.Url("/media/1.flv?st=9");
    server.Serve("/www.youporn.com/watch/1",
                 "<html><head><title>x</title></head>\r\n<script>\r\n"
                 "so.addVariable('file', encodeURIComponent('" + media + "&xml=1&n=2'));\r\n"
                 "so.addVariable('file', encodeURIComponent('" + server.Url("/media/2.flv") + "'));\r\n"
                 "</script></html>\r\n");
    server.Serve("/media/1.flv", "FLV\x01\x05...", "video/x-flv");

    const std::string found = GetYouPornUrl(server.Url("/www.youporn.com/watch/1"));
    EXPECT_EQ(found, media);
    EXPECT_EQ(DetectMediaExtension(found, ".avi", true), ".flv");
    EXPECT_EQ(CountRequests(server, "/www.youporn.com/watch/1"), 1u);
}

TEST(YouPornResolver, NothingToFind)
{
    testhttp::TestHttpServer server;
    server.Serve("/www.youporn.com/watch/2", "<html>encodeuricomponent('http://x/a.flv')</html>");
    server.Serve("/www.youporn.com/watch/3",
                 std::string(51 * 1024, ' ') + "\nf(encodeURIComponent('http://x/a.flv&xml=1'));\n");
    EXPECT_EQ(GetYouPornUrl(server.Url("/www.youporn.com/watch/2")), "");
    EXPECT_EQ(GetYouPornUrl(server.Url("/www.youporn.com/watch/3")), "");
    EXPECT_EQ(GetYouPornUrl("http://127.0.0.1:1/www.youporn.com/watch/1"), "");
}
