// SPDX-License-Identifier: GPL-3.0-or-later
// The console line collector: any bytes, fed in any pieces.

#include "FuzzSupport.h"
#include "system/ConRun.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the rule and the piece size.
    const TLineEndRule rule = (data[0] & 1) ? TLineEndRule::LoneLfCompletes : TLineEndRule::CrCompletes;
    const std::size_t piece = 1 + data[0] / 2;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t count = size - 1;

    std::vector<std::string> lines;
    std::size_t events = 0;
    TConsoleLineCollector collector(&lines, [&](int, const std::string& line) {
        ++events;
        FUZZ_CHECK(line.size() <= TConsoleLineCollector::LineMax);
    }, 0, rule);
    for (std::size_t at = 0; at < count; at += piece)
        collector.Feed(text + at, std::min(piece, count - at));
    collector.Finish();

    std::size_t total = 0;
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.size() <= TConsoleLineCollector::LineMax);
        total += line.size();
    }
    FUZZ_CHECK(total <= count);
    FUZZ_CHECK(lines.size() <= events + 1);
    return 0;
}
