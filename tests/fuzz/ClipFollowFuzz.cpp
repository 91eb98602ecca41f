// SPDX-License-Identifier: GPL-3.0-or-later
// The followed pages' list, times and sections as the user writes them, and
// the engine's chapter file names: whatever the text, parsing never fails,
// the list read back is the list written, a section read is one that starts
// before it ends, and a chapter's name is one file name.

#include "FuzzSupport.h"
#include "engine/ClipFiles.h"
#include "download/FollowedPages.h"
#include "engine/ClipOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    const std::vector<TFollowedPage> pages = ParseFollowedPages(text);
    FUZZ_CHECK(ParseFollowedPages(FollowedPagesText(pages)) == pages);

    std::string error;
    if (const std::optional<TTimeSection> section = ParseTimeSection(text, error)) {
        FUZZ_CHECK(section->Start >= 0 && section->End > section->Start);
        const std::string tag = SectionTag(*section);
        FUZZ_CHECK(tag.find('.') == std::string::npos && tag.find('/') == std::string::npos);
    }
    (void)ParseSponsorCategories(text);
    if (const std::optional<TChapterFile> chapter = ParseChapterFileName(text)) {
        const std::string name = ChapterFileName(*chapter, 3);
        FUZZ_CHECK(!name.empty() && name.find('/') == std::string::npos && name[0] != '.');
    }
    return 0;
}
