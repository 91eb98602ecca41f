// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder's description of a file, read by the media probe.

#include "FuzzSupport.h"
#include "convert/MediaProbe.h"
#include "base/ZQ_Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    TMediaInfo info;
    ParseProbeOutput(SplitLines(text), info);
    FUZZ_CHECK(info.DurationSeconds >= 0);
    FUZZ_CHECK(info.Duration >= 0);
    FUZZ_CHECK(info.DurationText.size() <= 20);
    (void)TimeTextToSeconds(text);
    return 0;
}
