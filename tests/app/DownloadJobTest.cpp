// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DownloadJob.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {
std::vector<std::string> WithProgram(std::vector<std::string> args)
{
    args.insert(args.begin(), "/opt/brimtale/brimtale");
    return args;
}

TDownloadJob SampleJob()
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = "http://www.youtube.com/watch?v=abc";
    job.MediaUrl = "http://media.example/videoplayback?id=1&itag=22";
    job.OutputFile = "/home/u/Videos/clip.mp4";
    job.MainWindow = 1234;
    job.ExpectedSize = 987654;
    job.EncoderParams = "-i %1 -c:v libx264 %2";
    job.EncoderExt = "mp4";
    job.TargetExt = "mp4";
    job.DeleteInput = true;
    return job;
}
} // namespace

TEST(DownloadJob, ArgumentsRoundTripThroughTheReceiver)
{
    const TDownloadJob job = SampleJob();
    const TDownloadJob back = JobFromArgs(WithProgram(JobToArgs(job, true)));
    EXPECT_EQ(back, job);
}

TEST(DownloadJob, EngineFieldsRideAfterTheEleventhArgument)
{
    TDownloadJob job = SampleJob();
    job.MediaUrl = job.Source;
    job.ThroughEngine = true;
    job.EngineFormat = "bv*[height<=720][ext=mp4]+ba[ext=m4a]/b";
    job.EngineMerge = "mp4";
    const std::vector<std::string> args = JobToArgs(job, false);
    ASSERT_EQ(args.size(), 14u);
    // The first eleven are those of any job: a receiver that reads only them gets the same job.
    TDownloadJob plain = job;
    plain.ThroughEngine = false;
    plain.EngineFormat.clear();
    plain.EngineMerge.clear();
    EXPECT_EQ(std::vector<std::string>(args.begin(), args.begin() + 11), JobToArgs(plain, false));
    EXPECT_EQ(args[11], "engine");
    EXPECT_EQ(JobFromArgs(WithProgram(args)), job);

    // The engine's own choice travels as "-"; a job without a page address is refused.
    job.EngineFormat.clear();
    job.EngineMerge.clear();
    EXPECT_EQ(JobFromArgs(WithProgram(JobToArgs(job, false))), job);
    EXPECT_TRUE(IsJobValid(job));
    job.MediaUrl = "-";
    EXPECT_FALSE(IsJobValid(job));
}

TEST(DownloadJob, OptionsRideLastAsNamesAndValues)
{
    TDownloadJob job = SampleJob();
    job.RateLimit = 512000;
    // A plain download with a speed limit: one more argument.
    std::vector<std::string> args = JobToArgs(job, false);
    ASSERT_EQ(args.size(), 12u);
    EXPECT_EQ(args[11], "rate=512000");
    EXPECT_EQ(JobFromArgs(WithProgram(args)), job);

    job.ThroughEngine = true;
    job.MediaUrl = job.Source;
    job.EngineMetadata = false;
    job.EngineSubtitles = "en,pl";
    job.EngineEmbedSubtitles = true;
    job.CookiesBrowser = "firefox:/home/u/my profile=1";
    job.CookiesFile = "/home/u/cookies;$(x).txt";
    args = JobToArgs(job, false);
    EXPECT_EQ(args.size(), 14u + 6u);
    EXPECT_EQ(JobFromArgs(WithProgram(args)), job);
    // The parameter text carries them too.
    EXPECT_EQ(JobFromArgs(WithProgram(SplitCommandLine(BuildGetParams(job, false)))), job);

    // Unknown names, values that are no number and the defaults change nothing.
    args.push_back("colour=blue");
    args.push_back("rate=fast");
    args.push_back("no equals sign");
    EXPECT_EQ(JobFromArgs(WithProgram(args)).RateLimit, 0);
    EXPECT_EQ(JobFromArgs(WithProgram(JobToArgs(SampleJob(), false))), SampleJob());
}

TEST(DownloadJob, ParameterTextSplitsIntoTheSameArguments)
{
    TDownloadJob job = SampleJob();
    job.Source = "/home/u/My Videos/a $(rm -rf x); b 'q' zażółć.avi";
    job.OutputFile = "/tmp/out dir/x`y`.avi";
    const std::vector<std::string> args = JobToArgs(job, false);
    EXPECT_EQ(SplitCommandLine(BuildGetParams(job, false)), args);
    EXPECT_EQ(JobFromArgs(WithProgram(args)), job);
}

TEST(DownloadJob, ParameterTextLayout)
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = "/v/in.flv";
    job.OutputFile = "/v/out.flv";
    job.EncoderParams = "-";
    job.EncoderExt = "-";
    job.TargetExt = "-";
    EXPECT_EQ(BuildGetParams(job, true),
              "-get \"/v/in.flv\" \"-\" \"/v/out.flv\" \"0\" \"0\" \"1\" \"-\" \"-\" \"-\" \"0\"");
}

TEST(DownloadJob, EmptyFieldsGoOutAsDashSoPositionsNeverShift)
{
    TDownloadJob job = SampleJob();
    job.MediaUrl.clear();
    job.EncoderParams.clear();
    const std::vector<std::string> args = SplitCommandLine(BuildGetParams(job, false));
    ASSERT_EQ(args.size(), 11u);
    EXPECT_EQ(args[2], "-");
    EXPECT_EQ(args[7], "-");
}

TEST(DownloadJob, SplittingRules)
{
    EXPECT_EQ(SplitCommandLine(""), std::vector<std::string>{});
    EXPECT_EQ(SplitCommandLine("  a\tb  "), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitCommandLine("\"a b\" c\"d e\"f"), (std::vector<std::string>{"a b", "cd ef"}));
    // An empty quoted pair where an argument begins is skipped.
    EXPECT_EQ(SplitCommandLine("a \"\" b"), (std::vector<std::string>{"a", "b"}));
    // No escape character: a backslash is plain text and the quote after it closes.
    EXPECT_EQ(SplitCommandLine("\"a\\\" b\""), (std::vector<std::string>{"a\\", "b"}));
}

TEST(DownloadJob, ReceiverReadsSwitchAndNumbers)
{
    TDownloadJob job = JobFromArgs(WithProgram({"-GET", "s", "m", "o", "12", "x12", "1", "p", "e", "t", "1"}));
    EXPECT_EQ(job.Switch, "-get");
    EXPECT_EQ(job.MainWindow, 12);
    EXPECT_EQ(job.ExpectedSize, 0); // not a number
    EXPECT_TRUE(job.DeleteInput);

    job = JobFromArgs(WithProgram({"-getter", "s", "m", "o"}));
    EXPECT_EQ(job.Switch, "-get"); // only the first four characters stay
    EXPECT_EQ(job.EncoderParams, "");
    EXPECT_FALSE(job.DeleteInput);

    job = JobFromArgs(WithProgram({"-get", "s", "m", "o", "$10", "99999999999", "0", "p", "e", "t", "yes", "extra"}));
    EXPECT_EQ(job.MainWindow, 16);
    EXPECT_EQ(job.ExpectedSize, 0); // out of range
    EXPECT_FALSE(job.DeleteInput);
}

TEST(DownloadJob, ReceiverCutsLongFieldsAtCharacterBoundaries)
{
    const std::string params(300, 'p');
    const std::string ext = "abcdefghi\xC5\xBC"; // 11 bytes, the last letter two bytes long
    const TDownloadJob job = JobFromArgs(WithProgram({"-get", "s", "m", "o", "0", "0", "0", params, ext, "mkv"}));
    EXPECT_EQ(job.EncoderParams.size(), 250u);
    EXPECT_EQ(job.EncoderExt, "abcdefghi");
    EXPECT_EQ(job.TargetExt, "mkv");
}

TEST(DownloadJob, Validation)
{
    TempDir dir;
    const std::string file = dir.Write("in.avi", "x");
    TDownloadJob job = SampleJob();
    EXPECT_TRUE(IsJobValid(job));

    job.Switch = "-ge";
    EXPECT_FALSE(IsJobValid(job));
    job.Switch = "-get";
    job.OutputFile.clear();
    EXPECT_FALSE(IsJobValid(job));
    job.OutputFile = "/tmp/x.avi";

    job.MediaUrl.clear();
    job.Source = dir.Path(); // a directory is not a source file
    EXPECT_FALSE(IsJobValid(job));
    job.Source = file;
    EXPECT_TRUE(IsJobValid(job));

    job.MediaUrl = "http://x/" + std::string(2000, 'a'); // would not fit: refused, not cut
    EXPECT_FALSE(IsJobValid(job));
}
