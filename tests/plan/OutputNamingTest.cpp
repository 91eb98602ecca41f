// SPDX-License-Identifier: GPL-3.0-or-later
// Proposed output names from page titles, and output paths made safe to write.
#include "base/ZQ_Strings.h"
#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "plan/OutputNaming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(OutputNaming, MediaExtensionsTable)
{
    const std::array<std::string, 10> expected = {"mp4", "avi", "wmv", "mp3", "wav", "flac", "voc", "ac3", "aac", "wma"};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(MediaExtensions[i], expected[i]);
}

TEST(OutputNaming, SanitizeTitleReplacementsInOrder)
{
    EXPECT_EQ(SanitizeTitle("Tom &amp; Jerry: The &quot;Movie&quot;"), "Tom & Jerry- The 'Movie'");
    EXPECT_EQ(SanitizeTitle("a/b\\c*d?e"), "a_b_c_d_e");
    EXPECT_EQ(SanitizeTitle("&NBSP;Intro"), "'Intro");
    EXPECT_EQ(SanitizeTitle("<B>bold</b> <i>it</I> \"q\""), "bold it 'q'");
    // "&amp;" goes first, so doubly encoded entities end as apostrophes too.
    EXPECT_EQ(SanitizeTitle("&amp;quot;x&amp;#39;y&amp;#039;"), "'x'y'");
    EXPECT_EQ(SanitizeTitle("&#39;a&#039;"), "'a'");
    EXPECT_EQ(SanitizeTitle("&#X39;"), "&#X39;");  // rows 15 and 16 keep letter case
    EXPECT_EQ(SanitizeTitle("<u>|>"), "<u>|>");
    // The letter "š" becomes "s"; "Š" and letters sharing a byte with it stay.
    EXPECT_EQ(SanitizeTitle("Pe\xC5\xA1 \xC5\xA0 \xC4\xA1"), "Pes \xC5\xA0 \xC4\xA1");
    // Windows-1250 text is read as such: 0x9A is "š" there.
    EXPECT_EQ(SanitizeTitle("Pe\x9A i \xBF\xF3\xB3w"), "Pes i \xC5\xBC\xC3\xB3\xC5\x82w");
}

TEST(OutputNaming, DecodeUtf8Title)
{
    EXPECT_EQ(DecodeUtf8Title("Caf%C3%A9+au+lait"), "Caf\xC3\xA9 au lait");
    EXPECT_EQ(DecodeUtf8Title("Zak\xC5\x82""ad"), "Zak\xC5\x82""ad");
    EXPECT_EQ(DecodeUtf8Title("a%zzb"), "ab");   // a bad escape is skipped whole
    EXPECT_EQ(DecodeUtf8Title("a%4"), "a\x04");  // one digit at the very end
    EXPECT_EQ(DecodeUtf8Title("100%"), "100");
    EXPECT_EQ(DecodeUtf8Title("caf%E9"), "");    // not UTF-8
    EXPECT_EQ(DecodeUtf8Title("caf\xE9"), "");
    EXPECT_EQ(DecodeUtf8Title(""), "");
}

TEST(OutputNaming, Cp1250Conversion)
{
    EXPECT_EQ(Cp1250ToUtf8("Za\xBF\xF3\xB3\xE6 g\xEA\x9C\x6C\xB9 ja\x9F\xF1"),
              "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84");
    EXPECT_EQ(Cp1250ToUtf8("\x80\x81"), "\xE2\x82\xAC?");
    EXPECT_EQ(EnsureUtf8("\xC5\xBC"), "\xC5\xBC");
    EXPECT_EQ(EnsureUtf8("\xC5"), "\xC4\xB9");
}

TEST(OutputNaming, DropRepeatedExtensionAndFinish)
{
    EXPECT_EQ(DropRepeatedExtension("clip.AVI.avi"), "clip.AVI");
    EXPECT_EQ(DropRepeatedExtension("clip.avi.avi.avi"), "clip.avi.avi");
    EXPECT_EQ(DropRepeatedExtension("clip.FLV.flv"), "clip.FLV");
    EXPECT_EQ(DropRepeatedExtension("clip.mp3.mp3"), "clip.mp3");
    EXPECT_EQ(DropRepeatedExtension("clip.mp4.mp4.avi.avi"), "clip.mp4.mp4.avi");
    EXPECT_EQ(DropRepeatedExtension("clip.avi.flv"), "clip.avi.flv");

    EXPECT_EQ(FinishFileName("a\tb\r\nc\x01"), "abc");
    EXPECT_EQ(FinishFileName(""), "_");
    EXPECT_EQ(FinishFileName(" \t "), "_");
    EXPECT_EQ(FinishFileName("YouTube-Best of YouTube-x"), "YouTube -Best of YouTube-x");
    EXPECT_EQ(FinishFileName("YouTube - Best of"), "YouTube - Best of");
}

TEST(OutputNaming, CleanDoubledExtension)
{
    EXPECT_EQ(CleanDoubledExtension("/v/clip.wmv.mp4"), "/v/clip.mp4");
    EXPECT_EQ(CleanDoubledExtension("/v/clip.avi.flv"), "/v/clip.flv");
    EXPECT_EQ(CleanDoubledExtension("/v/clip.mp4.mp4"), "/v/clip.mp4");
    EXPECT_EQ(CleanDoubledExtension("/v/clip.mkv.mp4"), "/v/clip.mkv.mp4");
    EXPECT_EQ(CleanDoubledExtension("/v/clip.AVI.flv"), "/v/clip.AVI.flv");
    EXPECT_EQ(CleanDoubledExtension("clip.mp3.flv"), "clip.flv");
    // The directories above the file are never rewritten.
    EXPECT_EQ(CleanDoubledExtension("/v/old.avi.flv/clip.avi.flv"), "/v/old.avi.flv/clip.flv");
    EXPECT_EQ(CleanDoubledExtension("/v/old.avi.flv/clip.mkv"), "/v/old.avi.flv/clip.mkv");
}

TEST(OutputNaming, GetUniqueFileName)
{
    TempDir dir;
    EXPECT_EQ(GetUniqueFileName(dir.File("clip.flv")), dir.File("clip.flv"));

    dir.Write("clip", "x");
    EXPECT_EQ(GetUniqueFileName(dir.File("clip")), dir.File("clip_01"));

    dir.Write("clip.flv", "x");
    for (int n = 1; n <= 99; ++n)
        dir.Write("clip_" + PadLeft(std::to_string(n), 2, '0') + ".flv", "x");
    EXPECT_EQ(GetUniqueFileName(dir.File("clip.flv")), dir.File("clip_100.flv"));

    // A directory or a dangling link with the name is taken as well.
    fs::create_directory(dir.File("d.mp4"));
    EXPECT_EQ(GetUniqueFileName(dir.File("d.mp4")), dir.File("d_01.mp4"));
    SKIP_ON_WINDOWS(PosixLinks);
    fs::create_symlink(dir.File("nowhere/target.mp4"), dir.File("l.mp4"));
    EXPECT_EQ(GetUniqueFileName(dir.File("l.mp4")), dir.File("l_01.mp4"));
    EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}

TEST(OutputNaming, GetUniqueFileNameNeverReturnsATakenName)
{
    TempDir dir;
    dir.Write("a.flv", "x");
    for (int n = 1; n <= 10000; ++n)
        std::ofstream(dir.File("a_" + PadLeft(std::to_string(n), 2, '0') + ".flv"));
    ASSERT_TRUE(fs::exists(dir.File("a_10000.flv")));
    EXPECT_EQ(GetUniqueFileName(dir.File("a.flv")), "");
    fs::remove(dir.File("a_10000.flv"));
    EXPECT_EQ(GetUniqueFileName(dir.File("a.flv")), dir.File("a_10000.flv"));
}

// A name is taken while its file or the work folder of a job writing it exists,
// and a reservation takes it at once, so a second job gets the next one.
TEST(OutputNaming, AReservedNameIsTakenUntilGivenBack)
{
    TempDir dir;
    fs::create_directory(dir.File(".film.mp4.parts"));
    EXPECT_TRUE(IsOutputNameTaken(dir.File("film.mp4")));
    EXPECT_EQ(GetUniqueFileName(dir.File("film.mp4")), dir.File("film_01.mp4"));

    for (bool engine : {true, false}) {
        const std::string wanted = dir.File(engine ? "page.mp4" : "file.flv");
        const std::string first = ReserveOutputFile(wanted, engine);
        const std::string second = ReserveOutputFile(wanted, engine);
        EXPECT_EQ(first, wanted);
        EXPECT_EQ(second, dir.File(engine ? "page_01.mp4" : "file_01.flv"));
        EXPECT_TRUE(fs::exists(engine ? EngineWorkDir(first) : first));
        ReleaseOutputFile(second, engine);
        EXPECT_FALSE(IsOutputNameTaken(second));
        EXPECT_EQ(ReserveOutputFile(wanted, engine), second);
    }
    // Only an empty reservation is given back: a file with content stays.
    dir.Write("kept.flv", "data");
    ReleaseOutputFile(dir.File("kept.flv"), false);
    EXPECT_EQ(TempDir::Read(dir.File("kept.flv")), "data");
    // No folder to write in: no name, rather than a wrong one.
    EXPECT_EQ(ReserveOutputFile(dir.File("missing/x.mp4"), true), "");
}

namespace {
// The promises a proposed name for a page keeps, whatever the title held.
void ExpectOneSafeName(const std::string& name)
{
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
    EXPECT_NE(name.front(), '.') << name;
    EXPECT_TRUE(IsValidUtf8(name)) << name;
    EXPECT_LE(name.size(), 255u);
    for (char c : name) {
        const unsigned char b = static_cast<unsigned char>(c);
        EXPECT_TRUE(b >= 32 && b != 0x7F) << name;
    }
}
} // namespace

TEST(OutputNaming, SafeFileNameOfHostileText)
{
    const std::string hostile[] = {
        "", ".", "..", "../../etc/passwd", "/", "a\0b\x7F\x1F""c", "\xC2\x85x",
        "$(rm -rf ~); `id` | 'q' \"d\" > x", "caf\xE9\xFF\xFE", ".hidden", "\xF0\x9F\x8E\xAC",
        std::string(10000, 'x'), std::string(300, 'x') + ".flv",
    };
    for (const std::string& text : hostile)
        ExpectOneSafeName(SafeFileName(text));

    EXPECT_EQ(SafeFileName("."), "_");
    // Windows takes a name's trailing dots away: none is proposed there.
    EXPECT_EQ(SafeFileName(".."), skips::OnWindows ? "_" : "_.");
    EXPECT_EQ(SafeFileName(".hidden.flv"), "_hidden.flv");
    EXPECT_EQ(SafeFileName("a/b"), "a_b");
    EXPECT_EQ(SafeFileName("-rf.flv"), "-rf.flv");  // a leading "-" is harmless: no shell, no option parsing
    EXPECT_EQ(SafeFileName("a\xC2\x85z"), "az");

    // A long name is cut at a character boundary and keeps its extension.
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xC5\xBC";  // two bytes each
    longName += ".mp4";
    const std::string cut = SafeFileName(longName);
    EXPECT_EQ(cut.size(), MaxProposedNameBytes);
    EXPECT_TRUE(IsValidUtf8(cut));
    EXPECT_TRUE(EndsWithText(cut, ".mp4"));
    const std::string cut4 = SafeFileName(std::string(237, 'a') + "\xF0\x9F\x8E\xAC" + ".flv");
    EXPECT_EQ(cut4, std::string(236, 'a') + ".flv");
}

// The names Windows refuses or reads as something else: kept the same on every
// system, so that a name made on Linux is a name on Windows too.
TEST(OutputNaming, WindowsSafeNames)
{
    EXPECT_EQ(WindowsSafeName("a<b>c:d\"e/f\\g|h?i*j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(WindowsSafeName("tab\there\x1F"), "tab_here_");
    EXPECT_EQ(WindowsSafeName("Film. . "), "Film");
    EXPECT_EQ(WindowsSafeName("..."), "_");
    EXPECT_EQ(WindowsSafeName(" "), "_");
    // Devices, in any letter case, with an extension or blanks before it.
    for (const char* device : {"CON", "con", "Prn", "AUX", "nul", "COM1", "com9", "LPT1", "lpt9", "CONIN$",
                               "NUL.txt", "con.tar.gz", "Aux .mp4", "COM3.", "nul  "})
        EXPECT_EQ(WindowsSafeName(device).front(), '_') << device;
    EXPECT_EQ(WindowsSafeName("CON.mp4"), "_CON.mp4");
    // Names that only look like devices stay as they are.
    for (const char* name : {"CONSOLE.mp4", "COM0", "COM10", "LPT", "nul_x", "xcon", "COM1x.mp4", "\xC5\xBC"})
        EXPECT_EQ(WindowsSafeName(name), name) << name;
    // What SafeFileName already made harmless stays harmless: every hostile
    // text gives one name, and the rules hold again on what they give.
    for (const std::string& text : {std::string("$(x); `id` | 'q' \"d\" > x"), std::string(300, '.') + "a",
                                   std::string("a\0b", 3), std::string(250, 'x') + " .mp4"}) {
        const std::string once = WindowsSafeName(SafeFileName(text));
        EXPECT_EQ(WindowsSafeName(once), once) << text;
        EXPECT_EQ(once.find_first_of(std::string("<>:\"/\\|?*\0", 10)), std::string::npos) << once;
    }
}

// Names proposed from titles that a local server's pages carry.
class PageNaming : public ::testing::Test {
protected:
    void Page(const std::string& path, const std::string& title)
    {
        server.Serve(path, "<html><head><title>" + title + "</title></head><body>x</body></html>");
    }
    testhttp::TestHttpServer server;
};

TEST_F(PageNaming, WorkedExamples)
{
    Page("/www.youtube.com/watch", "Tom &amp; Jerry: The &quot;Movie&quot;");
    EXPECT_EQ(FileNameFromPage(server.Url("/www.youtube.com/watch?v=abc"), vsYouTube), "Tom & Jerry- The 'Movie'");

    Page("/p1", "a/b\\c*d?e");
    EXPECT_EQ(FileNameFromPage(server.Url("/p1"), vsNone), "a_b_c_d_e.flv");
    Page("/p2", "&nbsp;Intro");
    EXPECT_EQ(FileNameFromPage(server.Url("/p2"), vsNone), "'Intro.flv");
    Page("/p3", "YouTube-Best of");
    EXPECT_EQ(FileNameFromPage(server.Url("/p3"), vsNone), "YouTube -Best of.flv");
    Page("/p4", "YouTube - Best of");
    EXPECT_EQ(FileNameFromPage(server.Url("/p4"), vsNone), "YouTube - Best of.flv");
    Page("/p5", "a\tb\ncd");
    EXPECT_EQ(FileNameFromPage(server.Url("/p5"), vsNone), "abcd.flv");
    Page("/p6", "clip.avi");
    EXPECT_EQ(FileNameFromPage(server.Url("/p6"), vsNone), "clip.avi.flv");
    Page("/p7", "clip.flv");
    EXPECT_EQ(FileNameFromPage(server.Url("/p7"), vsNone), "clip.flv");

    server.Serve("/empty", "<html><head><title></title></head></html>");
    EXPECT_EQ(FileNameFromPage(server.Url("/empty"), vsNone), "_");
    server.Serve("/notitle", "<html>no title here</html>");
    EXPECT_EQ(FileNameFromPage(server.Url("/notitle"), vsYouTube), "_");
}

TEST_F(PageNaming, TitleEncodings)
{
    Page("/pct", "Caf%C3%A9+au+lait");
    EXPECT_EQ(FileNameFromPage(server.Url("/pct"), vsNone), "Caf\xC3\xA9 au lait.flv");
    Page("/utf8", "Zak\xC5\x82""ad pe\xC5\xA1");
    EXPECT_EQ(FileNameFromPage(server.Url("/utf8"), vsNone), "Zak\xC5\x82""ad pes.flv");
    // Not UTF-8 after decoding: the raw title stands.
    Page("/raw", "100%FF");
    EXPECT_EQ(FileNameFromPage(server.Url("/raw"), vsNone), "100%FF.flv");
    // A Windows-1250 page.
    Page("/cp", "\xAF\xF3\xB3w pe\x9A");
    EXPECT_EQ(FileNameFromPage(server.Url("/cp"), vsNone), "\xC5\xBB\xC3\xB3\xC5\x82w pes.flv");
}

TEST_F(PageNaming, HostileTitlesGiveOneFileName)
{
    const std::string titles[] = {
        ".", "..", "../../../etc/passwd", "%2E%2E", "%2e%2E%2Fx", "a%00b%0A%7Fc", "%2F", "x%C2%85y",
        "$(touch pwned); `id` | echo 'x' > \"y\"", "caf\xE9\xFF", ".profile",
        std::string(9000, 'y'), std::string(3000, '\xE9'),
    };
    int i = 0;
    for (const std::string& title : titles) {
        const std::string path = "/t" + std::to_string(i++);
        Page(path, title);
        for (TVideoSite site : {vsNone, vsYouTube}) {
            const std::string name = FileNameFromPage(server.Url(path), site);
            ExpectOneSafeName(name);
        }
    }
    Page("/dots", "%2E%2E");
    EXPECT_EQ(FileNameFromPage(server.Url("/dots"), vsYouTube), skips::OnWindows ? "_" : "_.");
    EXPECT_EQ(FileNameFromPage(server.Url("/dots"), vsNone), "_..flv");
    Page("/long", std::string(9000, 'y'));
    const std::string name = FileNameFromPage(server.Url("/long"), vsNone);
    EXPECT_EQ(name, std::string(MaxProposedNameBytes - 4, 'y') + ".flv");
}

TEST_F(PageNaming, MediaTypeOfWrzutaAndYouPornPages)
{
    Page("/wrzuta.pl/film/Key1/a_title", "Wrzuta clip");
    server.Serve("/sr/v/Key1", std::string("\0\0\0\x1C""ftypisom", 12), "video/mp4");
    EXPECT_EQ(FileNameFromPage(server.Url("/wrzuta.pl/film/Key1/a_title"), vsWrzuta), "Wrzuta clip.mp4");
    // A media file of unknown type gets ".flv".
    Page("/wrzuta.pl/film/Key2/b", "Other");
    server.Serve("/sr/v/Key2", "<html>gone</html>");
    EXPECT_EQ(FileNameFromPage(server.Url("/wrzuta.pl/film/Key2/b"), vsWrzuta), "Other.flv");

    server.Serve("/www.youporn.com/watch/1",
                 "<html><head><title>Porn &amp; more</title></head>\n<script>\nso.addVariable('file', encodeURIComponent('" +
                     server.Url("/media/1.avi") + "&xml=1'));\n</script></html>");
    server.Serve("/media/1.avi", "RIFF....AVI LIST", "video/avi");
    EXPECT_EQ(FileNameFromPage(server.Url("/www.youporn.com/watch/1"), vsYouPorn), "Porn & more.avi");
}

TEST(OutputNaming, LocalFileGivesItsFullPath)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    TempDir dir;
    const std::string file = dir.Write("movie.avi", "RIFF");
    const std::string relative = fs::relative(file, fs::current_path()).string();
    ASSERT_NE(relative.front(), '/');
    EXPECT_EQ(FileNameFromPage(relative, vsLocalFile), fs::weakly_canonical(file).string());
    EXPECT_EQ(FileNameFromPage(file, vsLocalFile), file);
    EXPECT_EQ(FileNameFromPage(dir.File("missing.avi"), vsLocalFile), "_");
    const std::string twice = dir.Write("movie.avi.avi", "RIFF");
    EXPECT_EQ(FileNameFromPage(twice, vsLocalFile), file);
}
