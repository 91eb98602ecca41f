// SPDX-License-Identifier: GPL-3.0-or-later
// The real brimtale-cli against stand-in page engines and encoders that behave
// badly: a stray process holding the engine's output, page information built
// to use up memory, a file of the wrong type or mode, terminal escapes in the
// engine's words, and an error log on a full disk or behind a link.

#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The page information the stand-in engine gives for -J.
constexpr const char* PageJson = R"({"title": "Clip", "url": "http://127.0.0.1:9/clip.mp4", "ext": "mp4"})";

class OutsideInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = dir.File("brimtale-cli");
        fs::copy_file(BRIMTALE_CLI, exe);
        fs::copy_file(std::string(BRIMTALE_SOURCE_DIR) + "/data/bmt_encoder_profiles.ini",
                      dir.File("bmt_encoder_profiles.ini"));
        dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        fs::create_directory(out);
    }

    void TearDown() override
    {
        // A stray the engine left is ended here.
        std::ifstream pidFile(dir.File("stray.pid"));
        int pid = 0;
        if (pidFile >> pid && pid > 1)
            ::kill(pid, SIGKILL);
    }

    // The page engine beside the program, newer than any other here so it is
    // the one used: lookUp answers -J, download the rest.
    void UseEngine(const std::string& lookUp, const std::string& download)
    {
        WriteScript(dir.File("yt-dlp"), "for a in \"$@\"; do\n  if [ \"$a\" = --version ]; then\n"
                                        "  echo 2099.01.01\n  exit 0\n  fi\n  if [ \"$a\" = -J ]; then\n" +
                                            lookUp + "\n  exit 0\n  fi\ndone\n" + download + "\n");
    }

    // Something the engine starts in a session of its own: it holds the
    // engine's output and writes into its folder for up to 30 seconds.
    std::string Stray() const
    {
        return "setsid sh -c 'echo $$ > " + dir.File("stray.pid") +
               "; i=0; while [ $i -lt 150 ]; do echo stray; echo x >> stray.txt; i=$((i+1)); sleep 0.2; done' &\n"
               "while [ ! -s " + dir.File("stray.pid") + " ]; do sleep 0.05; done\n";
    }

    TProgramRun Cli(const std::vector<std::string>& args, const TProgramOptions& options = {})
    {
        std::vector<std::string> all{"-d", out, "-o", "Clip"};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(exe, all, options);
    }

    TempDir dir;
    std::string exe;
    std::string out = dir.File("videos");
    const std::string page = "http://127.0.0.1:9/page";
};

} // namespace

TEST_F(OutsideInput, AStrayHoldingTheEnginesOutputNeitherKeepsTheRunNorIgnoresCtrlC)
{
    // The engine makes its file and ends; what it left running keeps printing.
    UseEngine(std::string("printf '%s' '") + PageJson + "'",
              Stray() + "printf 'media' > media.mp4\necho '[brimtale] finished 5 5 NA 0'\nexit 0");
    const TProgramRun done = Cli({page});
    ASSERT_EQ(done.Status, 0) << done.Err;
    EXPECT_LT(done.Took, std::chrono::seconds(15));
    EXPECT_EQ(done.Out, out + "/Clip.mp4\n");
    EXPECT_EQ(TempDir::Read(out + "/Clip.mp4"), "media");
    TearDown();
    fs::remove(dir.File("stray.pid"));

    // An engine that ignores SIGTERM and leaves a stray: Ctrl+C still ends the run.
    UseEngine(std::string("printf '%s' '") + PageJson + "'",
              Stray() + "echo '[brimtale] downloading 5 100 NA 0'\ntrap '' TERM\nwhile :; do sleep 1; done");
    std::chrono::steady_clock::time_point sentAt{};
    TProgramOptions ctrlC;
    ctrlC.WhileRunning = [&](pid_t pid, const TProgramRun&) {
        if (sentAt == std::chrono::steady_clock::time_point{} && fs::exists(dir.File("stray.pid"))) {
            sentAt = std::chrono::steady_clock::now();
            ::kill(pid, SIGINT);
        }
    };
    const auto startedAt = std::chrono::steady_clock::now();
    const TProgramRun stopped = Cli({page}, ctrlC);
    ASSERT_NE(sentAt, std::chrono::steady_clock::time_point{});
    // SIGTERM, SIGKILL three seconds later, two seconds for the pipe: well
    // before the stray would let go.
    EXPECT_LT(startedAt + stopped.Took - sentAt, std::chrono::seconds(15));
    EXPECT_EQ(stopped.Status, 130) << stopped.Err;
    EXPECT_NE(stopped.Err.find("interrupted"), std::string::npos) << stopped.Err;
    EXPECT_TRUE(fixtures::ProcessesWithArgument(dir.File("yt-dlp")).empty());
}

TEST_F(OutsideInput, PageInformationBuiltToUseUpMemoryIsRefusedAsTooLarge)
{
    // 60 MB of each shape, inside the engine's 64 MB limit, written piece by
    // piece so that this process stays small (a child starts from its parent's
    // peak memory).
    const std::size_t size = 60u * 1024 * 1024;
    const auto write = [&](const std::string& head, const std::string& item, const std::string& tail) {
        std::ofstream file(dir.File("page.json"), std::ios::binary | std::ios::trunc);
        file << head;
        for (std::size_t written = head.size(); written + item.size() + tail.size() < size; written += item.size())
            file << item;
        file << tail;
    };
    const std::string megabyte = "\"" + std::string(1024 * 1024, 's') + "\",";
    struct TShape {
        std::string Head, Item, Tail;
        bool TooLarge;
    };
    const TShape shapes[] = {
        {R"({"url": "u", "formats": [)", "0,", "0]}", true},
        {R"({"url": "u", "x": [)", "{},", "{}]}", true},
        {R"({"url": "u", "formats": [)", R"({"height": 720},)", "{}]}", true},
        {R"({"url": "u", "x": )", "[", "", true},  // nested beyond any depth (and never closed)
        {R"({"url": "u", "title": [)", megabyte, "\"\"]}", false},  // few values, each large: read
    };
    for (const TShape& shape : shapes) {
        write(shape.Head, shape.Item, shape.Tail);
        UseEngine("cat " + dir.File("page.json"), "echo 'ERROR: no download here'; exit 1");
        const TProgramRun run = Cli({page});
        EXPECT_EQ(run.Status, 1) << run.Err;
        if (shape.TooLarge)
            EXPECT_NE(run.Err.find("The page information is too large."), std::string::npos) << run.Err;
        else
            EXPECT_NE(run.Err.find("no download here"), std::string::npos) << run.Err;
        // Far below what the text would take as a tree of values.
        EXPECT_LT(run.PeakKb, 1024L * 1024) << run.PeakKb;
        std::printf("%s...: peak memory %ld kB after %lld ms\n", shape.Item.substr(0, 16).c_str(), run.PeakKb,
                    static_cast<long long>(run.Took.count()));
    }
}

TEST_F(OutsideInput, TheEnginesFileMustBeMediaAndGetsTheUsersOrdinaryMode)
{
    // A desktop entry with setuid and execute bits is not taken.
    UseEngine(std::string("printf '%s' '") + PageJson + "'",
              "printf '[Desktop Entry]\\nExec=sh\\n' > media.desktop\nchmod 4755 media.desktop");
    const TProgramRun refused = Cli({page});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("no media: media.desktop"), std::string::npos) << refused.Err;
    EXPECT_TRUE(fixtures::FolderEntries(out).empty());

    // A media file with those bits gets the mode any new file of the user's gets.
    UseEngine(std::string("printf '%s' '") + PageJson + "'", "printf 'media' > media.MP4\nchmod 6777 media.MP4");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const TProgramRun taken = Cli({page});
    ASSERT_EQ(taken.Status, 0) << taken.Err;
    struct stat st {};
    ASSERT_EQ(::stat((out + "/Clip.MP4").c_str(), &st), 0) << taken.Out;
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
}

TEST_F(OutsideInput, TerminalEscapesInTheEnginesWordsNeverReachTheTerminal)
{
    const std::string bad =
        "printf 'ERROR: \\033]0;pwned\\007bad \\033[2J\\033[1;31mpage\\302\\233K\\001\\n' >&2\nexit 1";
    const auto clean = [](const TProgramRun& run) {
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err.find('\033'), std::string::npos) << run.Err;
        EXPECT_EQ(run.Err.find('\007'), std::string::npos);
        EXPECT_EQ(run.Err.find("\302\233"), std::string::npos);
    };
    // A look-up that finds nothing is said in the program's words alone.
    UseEngine(bad, "exit 1");
    const TProgramRun lookUp = Cli({page});
    clean(lookUp);
    EXPECT_NE(lookUp.Err.find("No video or music found on this page."), std::string::npos) << lookUp.Err;
    EXPECT_EQ(lookUp.Err.find("bad"), std::string::npos) << lookUp.Err;
    EXPECT_EQ(lookUp.Err.find("pwned"), std::string::npos) << lookUp.Err;

    // A download that fails for a reason the program has no words for shows
    // the engine's, as plain text.
    UseEngine(std::string("printf '%s' '") + PageJson + "'", bad);
    const TProgramRun run = Cli({page});
    clean(run);
    EXPECT_NE(run.Err.find("bad page"), std::string::npos) << run.Err;
}

namespace {
// An encoder run that fails: the real ffmpeg with an option it doesn't know.
void UseFailingProfile(const std::string& profilesFile)
{
    std::ofstream(profilesFile, std::ios::binary)
        << "[MAIN]\r\nDefaultVideoBitrate=500k\r\n[BAD]\r\nDisplayName=bad\r\nParams=-y -i %1 -no-such-option 1 %2\r\n"
           "EncExt=avi\r\nExt=avi\r\n";
}
} // namespace

TEST_F(OutsideInput, TheErrorLogIsReplacedWholeAndNeverWrittenThroughALink)
{
    const std::string clip = fixtures::MakeClip(out + "/in.mp4", 1);
    if (clip.empty())
        GTEST_SKIP() << "no ffmpeg";
    UseFailingProfile(dir.File("bmt_encoder_profiles.ini"));
    const std::string victim = dir.Write("victim.txt", "keep me");
    fs::create_symlink(victim, dir.File("bmt_errors.log"));
    const TProgramRun run = RunProgram(exe, {"-p", "BAD", "-d", out, clip});
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_EQ(TempDir::Read(victim), "keep me");
    ASSERT_FALSE(fs::is_symlink(dir.File("bmt_errors.log")));
    const std::string log = TempDir::Read(dir.File("bmt_errors.log"));
    EXPECT_NE(log.find("no-such-option"), std::string::npos) << log;
    EXPECT_EQ(fs::status(dir.File("bmt_errors.log")).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(OutsideInput, OnAFullDiskTheOldErrorLogSurvives)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a small file system of its own needs root";
    const std::string clip = fixtures::MakeClip(out + "/in.mp4", 1);
    if (clip.empty())
        GTEST_SKIP() << "no ffmpeg";
    // An installed layout, its data folder on a tiny file system.
    const std::string prefix = dir.File("prefix");
    fs::create_directories(prefix + "/bin");
    fs::create_directories(prefix + "/share/brimtale");
    fs::copy_file(exe, prefix + "/bin/brimtale-cli");
    const std::string small = dir.File("small");
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=128k") != 0)
        GTEST_SKIP() << "no tmpfs to be had";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    const std::string data = small + "/brimtale";
    fs::create_directory(data);
    { std::ofstream(data + "/bmt.ini", std::ios::binary) << "[Main]\r\nLanguage=EN\r\n"; }
    UseFailingProfile(data + "/bmt_encoder_profiles.ini");
    const std::string oldLog = "an earlier failure\r\n";
    { std::ofstream(data + "/bmt_errors.log", std::ios::binary) << oldLog; }
    // Fill what is left.
    {
        std::ofstream filler(small + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        for (int i = 0; i < 1024 && filler; ++i)
            filler << block << std::flush;
    }
    TProgramOptions installed;
    installed.Env = {"XDG_DATA_HOME=" + small};
    const TProgramRun run = RunProgram(prefix + "/bin/brimtale-cli", {"-p", "BAD", "-d", out, clip}, installed);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find("no-such-option"), std::string::npos) << run.Err;
    EXPECT_EQ(TempDir::Read(data + "/bmt_errors.log"), oldLog);
    for (const std::string& name : fixtures::FolderEntries(data))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}
