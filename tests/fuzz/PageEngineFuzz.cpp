// SPDX-License-Identifier: GPL-3.0-or-later
// The page engine's JSON page information, a page's list of videos, and its
// progress lines.

#include "FuzzSupport.h"
#include "engine/EngineDownload.h"
#include "base/ZQ_Strings.h"
#include "engine/PageEngine.h"
#include "engine/PageList.h"

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    const TPageInfo info = ParsePageInfo(text);
    // Found only in well-formed JSON whose top is an object.
    if (info.Found)
        FUZZ_CHECK(!text.empty() && nlohmann::json::accept(text) && text.find('{') < text.find('['));
    FUZZ_CHECK(info.Formats.size() <= PageInfoMaxFormats && info.Title.size() <= 4096);
    FUZZ_CHECK(info.Size >= 0);
    for (const TPageFormat& f : info.Formats)
        FUZZ_CHECK(f.Height >= 0 && f.Size >= 0);
    FUZZ_CHECK(EngineErrorText(text).size() <= 300);

    // A list: bounded, and every address one a job may take.
    const TPageList list = ParsePageList(text, "http://127.0.0.1/page");
    FUZZ_CHECK(list.Entries.size() <= PageListMaxEntries);
    FUZZ_CHECK(!list.IsList || list.Entries.size() >= 2);
    for (const TPageListEntry& entry : list.Entries) {
        FUZZ_CHECK(entry.Url.size() <= 1023 && entry.Title.size() <= 1024);
        FUZZ_CHECK(StartsWithText(entry.Url, "http://") || StartsWithText(entry.Url, "https://"));
        for (const char c : entry.Url)
            FUZZ_CHECK(static_cast<unsigned char>(c) > 32 && c != 127);
    }

    TEngineTally tally;
    for (const std::string& line : SplitLines(text)) {
        const TEngineLine parsed = ParseEngineLine(line);
        FUZZ_CHECK(parsed.Done >= 0 && parsed.Total >= 0);
        tally.Feed(parsed);
        FUZZ_CHECK(tally.Done() >= 0 && tally.Total() >= 0);
    }
    return 0;
}
