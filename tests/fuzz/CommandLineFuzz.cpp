// SPDX-License-Identifier: GPL-3.0-or-later
// The "-get" command line: splitting any text and reading a job from it; an
// address argument, and the message that hands it to the running program.

#include "FuzzSupport.h"
#include "app/DownloadJob.h"
#include "app/InstanceMessage.h"
#include "app/StartUp.h"

#include <algorithm>
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

    FUZZ_CHECK(CommandLineAddress(text, "/").size() <= AddressMax);
    // Any bytes as a message never make more than one; an encoded address
    // arrives whole, in whatever pieces.
    TInstanceMessageReader raw;
    raw.Add(text.data(), text.size());
    FUZZ_CHECK(raw.Address().size() <= InstanceMessageMax);
    const std::string message = EncodeInstanceMessage(text);
    TInstanceMessageReader reader;
    const std::size_t piece = size > 0 ? 1 + data[0] % 7 : 1;
    for (std::size_t from = 0; from < message.size(); from += piece)
        reader.Add(message.data() + from, std::min(piece, message.size() - from));
    FUZZ_CHECK(reader.State() == TInstanceMessageReader::TState::Done && reader.Address() == text.substr(0, InstanceMessageMax));
    return 0;
}
