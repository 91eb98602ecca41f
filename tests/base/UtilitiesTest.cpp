// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/MemoryStream.h"
#include "base/TransferRate.h"
#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "system/ZQ_System.h"
#include "base/ZQ_URL.h"

#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <filesystem>
#include <future>
#include <sys/stat.h>

TEST(Url, Decode)
{
    EXPECT_EQ(UrlDecode("a%20b+c"), "a b c");
    EXPECT_EQ(UrlDecode("100%"), "100%");
    EXPECT_EQ(UrlDecode("%zz"), "%zz");
    EXPECT_EQ(UrlDecode("x%41"), "xA");
    EXPECT_EQ(UrlDecode("%2541"), "%41");
    EXPECT_EQ(UrlDecode("%4"), "%4");
    EXPECT_EQ(UrlDecode("%c5%bc"), "\xC5\xBC");
}

TEST(Url, Split)
{
    std::string scheme, host, path;
    SplitUrl("http://host.pl/a/b?c=1", scheme, host, path);
    EXPECT_EQ(scheme, "http://");
    EXPECT_EQ(host, "host.pl");
    EXPECT_EQ(path, "a/b?c=1");
    SplitUrl("justtext", scheme, host, path);
    EXPECT_EQ(scheme, "");
    EXPECT_EQ(host, "justtext");
    EXPECT_EQ(path, "");
}

TEST(Url, HexToInt64)
{
    EXPECT_EQ(HexToInt64("ffH"), 255);
    EXPECT_EQ(HexToInt64("1G"), 0);
    EXPECT_EQ(HexToInt64(""), 0);
    EXPECT_EQ(HexToInt64("7fffffffffffffff"), INT64_MAX);
}

TEST(Strings, StreamToStringKeepsThePosition)
{
    TMemoryStream stream;
    const std::string data(60000, 'z');
    stream.Write(data.data(), data.size());
    stream.Seek(123);
    EXPECT_EQ(StreamToString(&stream, 50000).size(), 50000u);
    EXPECT_EQ(stream.Position(), 123);
    EXPECT_EQ(StreamToString(&stream, 0).size(), 60000u);
    EXPECT_EQ(StreamToString(nullptr, 0), "");

    TMemoryStream zeros;
    zeros.Write("a\0b", 3);
    EXPECT_EQ(StreamToString(&zeros, 0), std::string("a\0b", 3));
}

TEST(Strings, SmallHelpers)
{
    EXPECT_EQ(LastCharPos("a/b/c", '/'), 4u);
    EXPECT_EQ(LastCharPos("abc", '/'), 0u);
    EXPECT_EQ(PadLeft("7", 2, '0'), "07");
    EXPECT_EQ(PadLeft("123", 2, '0'), "123");
    EXPECT_EQ(Trim(" \t\r\nx y\x01 "), "x y");
    EXPECT_EQ(Trim("\xC5\xBC"), "\xC5\xBC"); // bytes of letters are not blanks
    EXPECT_EQ(Pos("b", "abc"), 2u);
    EXPECT_EQ(PosText("B", "abc"), 2u);
    EXPECT_EQ(ReplaceAllText("aXbxc", "x", "-"), "a-b-c");
    EXPECT_EQ(ReplaceFirst("fmt=1&fmt=2", "fmt=", "ffmt="), "ffmt=1&fmt=2");
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd\r\n"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(Strings, Utf8)
{
    EXPECT_EQ(Utf8Cut("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87", 3), "za");
    EXPECT_EQ(Utf8Cut("abc", 10), "abc");
    EXPECT_TRUE(IsValidUtf8("za\xC5\xBC"));
    EXPECT_FALSE(IsValidUtf8("\xB9\xE6")); // Windows-1250 bytes
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong
}

TEST(Strings, SaveTextToFileWritesCrLfLines)
{
    TempDir dir;
    const std::string path = dir.File("log.txt");
    SaveTextToFile("a\nb\r\nc\rd", path);
    EXPECT_EQ(TempDir::Read(path), "a\r\nb\r\nc\r\nd\r\n");
    EXPECT_THROW(SaveTextToFile("x", dir.File("missing/log.txt")), std::runtime_error);
}

TEST(Conversion, SizeText)
{
    // One unit word for both languages, and no blanks around the number.
    EXPECT_EQ(SizeText(0), "0 B");
    EXPECT_EQ(SizeText(5), "5 B");
    EXPECT_EQ(SizeText(512), "512 B");
    EXPECT_EQ(SizeText(1023), "1023 B");
    EXPECT_EQ(SizeText(1024), "1.00 KB");
    EXPECT_EQ(SizeText(1536), "1.50 KB");
    EXPECT_EQ(SizeText(5242880), "5.00 MB");
    EXPECT_EQ(SizeText(1073741824), "1.00 GB");
    EXPECT_EQ(SizeText(5368709120ull), "5.00 GB");
    // Rounded to the nearest hundredth.
    EXPECT_EQ(SizeText(46297), "45.21 KB");
    EXPECT_EQ(SizeText(527305), "514.95 KB");
    EXPECT_EQ(SizeText(1048575), "1024.00 KB");
}

TEST(Conversion, NumbersIgnoreTheUserLocale)
{
    std::setlocale(LC_ALL, "pl_PL.UTF-8"); // may not exist; then nothing changes
    EXPECT_EQ(FormatDecimal(1.5, 4, ""), "1.5");
    EXPECT_EQ(FormatDecimal(2.0, 4, ""), "2");
    EXPECT_EQ(FormatDecimal(1.33333, 4, ""), "1.3333");
    EXPECT_EQ(FormatDecimal(1.99999, 4, ""), "2");
    EXPECT_EQ(FormatDecimal(640.0 / 360.0, 4, ""), "1.7778");
    EXPECT_EQ(FormatDecimal(1.25, 4, ","), "1,25");
    EXPECT_EQ(SizeText(1536), "1.50 KB");
    EXPECT_TRUE(IsFloat("29.97"));
    EXPECT_TRUE(IsFloat(" 25 "));
    EXPECT_FALSE(IsFloat("N/A"));
    EXPECT_FALSE(IsFloat("1,5"));
    EXPECT_FALSE(IsFloat("inf"));
    EXPECT_FALSE(IsFloat("+-1"));
    EXPECT_FALSE(IsFloat("++1"));
    EXPECT_TRUE(IsFloat("+1.5"));
    std::setlocale(LC_ALL, "C");
}

TEST(Conversion, RoundHalfEven)
{
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(14.6), 15);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
}

TEST(FileSystem, CreateEmptyRemoveAndSize)
{
    TempDir dir;
    const std::string path = dir.Write("f.bin", "12345");
    EXPECT_EQ(FileSizeOf(path), 5);
    EXPECT_TRUE(CreateEmptyFile(path));
    EXPECT_EQ(FileSizeOf(path), 0);
    EXPECT_TRUE(FileExists(path));
    RemoveFile(path);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(FileSizeOf(path), 0);
    EXPECT_FALSE(CreateEmptyFile(dir.File("no/such/dir/f")));

    // A directory is never removed as if it were a file.
    std::filesystem::create_directory(dir.File("sub"));
    RemoveFile(dir.File("sub"));
    EXPECT_TRUE(DirectoryExists(dir.File("sub")));
    EXPECT_FALSE(FileExists(dir.File("sub")));

    // A FIFO is looked at, never opened: these return at once with "no file".
    SKIP_ON_WINDOWS(PosixLinks);
    const std::string fifo = dir.File("fifo");
    ASSERT_TRUE(testsys::MakeFifo(fifo, 0644));
    EXPECT_FALSE(FileExists(fifo));
    EXPECT_EQ(FileSizeOf(fifo), 0);
    EXPECT_TRUE(PathExists(fifo));
}

TEST(FileSystem, ReadWholeFileReadsRegularFilesUpToTheirLimit)
{
    TempDir dir;
    const std::string text = "line 1\nline 2\n" + std::string(100000, 'x');
    const std::string path = dir.Write("f.txt", text);
    TWholeFile file = ReadWholeFile(path, text.size());
    EXPECT_EQ(file.Status, TFileRead::Ok);
    EXPECT_EQ(file.Text, text);
    EXPECT_EQ(ReadWholeFile(dir.Write("empty", ""), 0).Status, TFileRead::Ok);

    // One byte over is refused, and nothing of it is handed out.
    file = ReadWholeFile(path, text.size() - 1);
    EXPECT_EQ(file.Status, TFileRead::TooBig);
    EXPECT_TRUE(file.Text.empty());
    // /proc files say they are empty: the limit holds all the same.
    SKIP_ON_WINDOWS(ProcFiles);
    EXPECT_EQ(ReadWholeFile("/proc/self/cmdline", 1).Status, TFileRead::TooBig);
    EXPECT_EQ(ReadWholeFile("/proc/self/status", 64 * 1024).Status, TFileRead::Ok);

    EXPECT_EQ(ReadWholeFile(dir.File("missing"), 100).Status, TFileRead::CannotOpen);
    EXPECT_EQ(ReadWholeFile(dir.Path(), 100).Status, TFileRead::NotRegular);
    EXPECT_EQ(FileReadText(TFileRead::NotRegular), "not a regular file");

    // A link is followed, unless the caller refuses links.
    const std::string link = dir.File("link");
    ASSERT_TRUE(testsys::MakeSymlink(path, link));
    EXPECT_EQ(ReadWholeFile(link, text.size()).Text, text);
    EXPECT_EQ(ReadWholeFile(link, text.size(), TLinkAtName::Refuse).Status, TFileRead::CannotOpen);
}

TEST(FileSystem, ReadWholeFileNeverReadsADeviceAndNeverWaitsForAFifo)
{
    SKIP_ON_WINDOWS(PosixLinks);
    // /dev/zero never ends: it is refused before a byte is read.
    const auto started = std::chrono::steady_clock::now();
    const TWholeFile zero = ReadWholeFile("/dev/zero", 1024 * 1024);
    EXPECT_EQ(zero.Status, TFileRead::NotRegular);
    EXPECT_TRUE(zero.Text.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // A FIFO without a writer: opening it must not wait for one.
    TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_TRUE(testsys::MakeFifo(fifo, 0600));
    std::future<TWholeFile> read = std::async(std::launch::async, [&] { return ReadWholeFile(fifo, 1024); });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Blocked in open(): a writer that goes at once lets it go on.
        testsys::OpenFifoForWriting(fifo);
        ADD_FAILURE() << "reading a FIFO waited for a writer";
    }
    EXPECT_EQ(read.get().Status, TFileRead::NotRegular);
}

TEST(FileSystem, RenameNeverReplaces)
{
    TempDir dir;
    const std::string a = dir.Write("a", "A");
    const std::string b = dir.Write("b", "B");
    EXPECT_FALSE(RenameFileNoReplace(a, b));
    EXPECT_EQ(TempDir::Read(b), "B");
    EXPECT_TRUE(RenameFileNoReplace(a, dir.File("c")));
    EXPECT_EQ(TempDir::Read(dir.File("c")), "A");
    EXPECT_FALSE(FileExists(a));
}

TEST(FileSystem, PathParts)
{
    EXPECT_EQ(ExtractFileName("/a/b/c.flv"), "c.flv");
    EXPECT_EQ(ExtractFileDir("/a/b/c.flv"), "/a/b");
    EXPECT_EQ(ExtractFileDir("/c.flv"), "/");
    EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
    EXPECT_EQ(ChangeFileExt("/a.b/c", ".mp4"), "/a.b/c.mp4");
    EXPECT_EQ(ChangeFileExt("/a/c.flv", ".mp4"), "/a/c.mp4");
}

TEST(System, Locale)
{
    EXPECT_TRUE(LocaleIsPolish("pl_PL.UTF-8"));
    EXPECT_TRUE(LocaleIsPolish("pl"));
    EXPECT_FALSE(LocaleIsPolish("en_US.UTF-8"));
    EXPECT_FALSE(LocaleIsPolish("plx"));
    EXPECT_FALSE(LocaleIsPolish(""));
    EXPECT_FALSE(ExecutablePath().empty());
}

TEST(Strings, PrintableTextDropsEscapesAndControlCharacters)
{
    // A title set through OSC, a cleared screen, colours, their one-byte C1
    // forms, a bell and other controls: only the words are left.
    EXPECT_EQ(PrintableText("\x1b]0;pwned\x07" "bad \x1b[2J\x1b[1;31mpage\x1b[0m"), "bad page");
    EXPECT_EQ(PrintableText("a\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\b"), "alinkb");
    EXPECT_EQ(PrintableText("x\xc2\x9b" "31my\xc2\x9d" "0;t\xc2\x9cz"), "xyz");
    EXPECT_EQ(PrintableText("\x1b" "7a\x1b" "8\x01\x7f" "b\tc\rd"), "ab cd");
    EXPECT_EQ(PrintableText("one\ntwo"), "one two");
    EXPECT_EQ(PrintableText("one\r\ntwo", true), "one\ntwo");
    // Letters of any language stay, a broken-off sequence costs no text after it.
    EXPECT_EQ(PrintableText("Zażółć \xe2\x82\xac"), "Zażółć \xe2\x82\xac");
    EXPECT_EQ(PrintableText("a\x1b[12"), "a");
    EXPECT_EQ(PrintableText("a\x1b[1\x01z"), "az");
    EXPECT_EQ(PrintableText("end\x1b"), "end");
}

TEST(Transfer, ShownPercentNeverGoesBackWhileTheEstimateGrows)
{
    TShownPercent shown;
    EXPECT_EQ(shown.Next(10, 0), -1);  // no total yet
    EXPECT_EQ(shown.Next(29, 100), 29);
    EXPECT_EQ(shown.Next(30, 136), 29);  // the estimate grew: 22 % would be a step back
    EXPECT_EQ(shown.Next(100, 136), 74);
    EXPECT_EQ(shown.Next(500, 136), 100);
    shown.Reset();  // a transfer from zero starts over
    EXPECT_EQ(shown.Next(1, 100), 1);
    // The tries after a break spread over a minute, each pause longer.
    int total = 0;
    for (int n = 1; n <= TransferRetryTries; ++n) {
        EXPECT_GT(RetryPauseUnits(n), n > 1 ? RetryPauseUnits(n - 1) : 0);
        total += RetryPauseUnits(n);
    }
    EXPECT_GE(total, 60);
    EXPECT_EQ(RetryPauseUnits(TransferRetryTries + 1), 0);
}

TEST(Transfer, NoSpeedUntilTwoSecondsOfSamples)
{
    TTransferRate rate;
    rate.Restart(0, 10000);
    // The wait for the first bytes is no part of the speed, nor is a first
    // small block.
    rate.Sample(1024, 13000);
    rate.Sample(300 * 1024, 14500);
    EXPECT_EQ(rate.BytesPerSecond(), 0);
    EXPECT_EQ(rate.SecondsLeft(1000), -1);
    // Two seconds after the first sample: the average over them, then it
    // follows the samples.
    rate.Sample(1024 + 2 * 1024 * 1024, 15000);
    EXPECT_DOUBLE_EQ(rate.BytesPerSecond(), 1024.0 * 1024);
    EXPECT_EQ(rate.SecondsLeft(3 * 1024 * 1024), 3);
    rate.Sample(1024 + 6 * 1024 * 1024, 16000);
    EXPECT_DOUBLE_EQ(rate.BytesPerSecond(), 1024.0 * 1024 + (4.0 * 1024 * 1024 - 1024.0 * 1024) / 3);
    // A resumed transfer starts over.
    rate.Restart(5000, 20000);
    rate.Sample(900000, 20500);
    rate.Sample(1900000, 21000);
    EXPECT_EQ(rate.BytesPerSecond(), 0);
}
