// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder's progress lines and a profile's parameter template.

#include "FuzzSupport.h"
#include "convert/Conversion.h"
#include "base/ZQ_Strings.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    std::vector<std::string> lines = SplitLines(text);
    const std::size_t before = lines.size();
    const TConversionProgress progress = TrimAndReadProgress(lines);
    FUZZ_CHECK(lines.size() <= before);
    FUZZ_CHECK(progress.Frames >= 0);
    for (std::int32_t duration : {0, 1, 60, 2147483647}) {
        const int percent = ConversionPercent(progress.TimeSeconds, duration);
        FUZZ_CHECK(percent >= 0 && percent <= 100);
    }

    // Placeholders filled inside each argument: a path holding blanks and
    // quotes stays one argument.
    const std::string input = "in \"$(x)\" %2.avi";
    const std::vector<std::string> args = BuildEncoderArgs(text, "280k", input, "out %1.mp4", "16:9");
    if (text == "%1")
        FUZZ_CHECK(args.size() == 1 && args[0] == input);
    return 0;
}
