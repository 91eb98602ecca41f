// SPDX-License-Identifier: GPL-3.0-or-later
#include "programs/CliClip.h"

bool ClipFromCli(const TCliOptions& options, TClipOptions& clip, std::vector<TTimeSection>& sections,
                 std::string& bad, bool polish)
{
    clip = TClipOptions{};
    sections.clear();
    for (const std::string& text : options.Sections) {
        std::string error;
        const std::optional<TTimeSection> section = ParseTimeSection(text, error, polish);
        if (!section) {
            bad = "--section: " + error;
            return false;
        }
        sections.push_back(*section);
    }
    clip.SplitChapters = options.SplitChapters;
    if (!options.Sponsor.empty()) {
        const std::optional<TSponsorMode> mode = ParseSponsorMode(options.Sponsor);
        if (!mode) {
            bad = "--sponsor takes remove or mark";
            return false;
        }
        clip.Sponsor = *mode;
    }
    if (!options.SponsorCategories.empty()) {
        if (clip.Sponsor == TSponsorMode::Off) {
            bad = "--sponsor-categories needs --sponsor";
            return false;
        }
        const std::optional<std::string> categories = ParseSponsorCategories(options.SponsorCategories);
        if (!categories) {
            bad = "--sponsor-categories takes a comma list of sponsor, self-promotion, interaction-reminder, intro, "
                  "outro";
            return false;
        }
        clip.SponsorCategories = *categories;
    }
    return true;
}

std::vector<std::optional<TTimeSection>> SectionRuns(const std::vector<TTimeSection>& sections)
{
    if (sections.empty())
        return {std::nullopt};
    return {sections.begin(), sections.end()};
}
