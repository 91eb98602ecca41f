// The "-get" command line: splitting any text and reading a job from it.

#include "FuzzSupport.h"
#include "app/DownloadJob.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    std::vector<std::string> args = SplitCommandLine(text);
    for (const std::string& arg : args)
        FUZZ_CHECK(arg.size() <= text.size());

    args.insert(args.begin(), "brimtale");
    const TDownloadJob job = JobFromArgs(args);
    FUZZ_CHECK(job.Switch.size() <= JobSwitchMax);
    FUZZ_CHECK(job.EncoderParams.size() <= JobParamsMax);
    FUZZ_CHECK(job.EncoderExt.size() <= JobExtMax);
    FUZZ_CHECK(job.TargetExt.size() <= JobExtMax);
    (void)IsJobValid(job);

    // The sender's two forms of the same job: the argument list has one entry
    // per field, and the text line always starts with the switch.
    const std::vector<std::string> sent = JobToArgs(job, true);
    FUZZ_CHECK(!sent.empty());
    const std::vector<std::string> split = SplitCommandLine(BuildGetParams(job, false));
    FUZZ_CHECK(!split.empty() && split.front() == "-get");
    return 0;
}
