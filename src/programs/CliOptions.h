// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of brimtale-cli: its options, read into one structure, and
// the help text.

#include <string>
#include <vector>

struct TCliOptions {
    std::string Directory;   // -d; empty: LastDir from the settings
    std::string OutputName;  // -o; empty: proposed as the dialog does
    std::string Format;      // -f, as given (checked against the format table)
    std::string Profile;     // -p, as given (checked against the profiles)
    bool DeleteInput = false;
    bool ListProfiles = false;
    bool ListFormats = false;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Inputs;
    bool UpdateEngine = false;   // --update-engine
    bool RestoreEngine = false;  // --restore-engine
    bool EngineStatus = false;   // --engine-status
    std::string Channel;         // --channel: "stable" (default) or "nightly"
    bool Playlist = false;       // --playlist: every video of a page that lists several
    // What the page engine is asked besides the format (checked by the caller).
    bool NoMetadata = false;     // --no-metadata
    std::string Subtitles;       // --subs LANGS|all
    bool EmbedSubtitles = false; // --embed-subs
    std::string CookiesFrom;     // --cookies-from BROWSER[:PROFILE]
    std::string CookiesFile;     // --cookies FILE
    std::string LimitRate;       // --limit-rate RATE
    int Connections = 0;         // --connections N (1-16); 0: the setting
    // Only the part wanted (checked by the caller).
    std::vector<std::string> Sections;  // --section START-END, each a file of its own
    bool SplitChapters = false;         // --split-chapters
    std::string Sponsor;                // --sponsor remove|mark
    std::string SponsorCategories;      // --sponsor-categories LIST
    // Followed pages.
    std::string Follow;      // --follow URL
    std::string Unfollow;    // --unfollow URL
    bool Following = false;  // --following
    bool Check = false;      // --check
    std::size_t Latest = 0;  // --latest N: with --follow, the N latest listed are taken at the next check
};

// Reads args (without the program name). On bad usage returns false with the
// message (naming the option) in error.
bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options, std::string& error);

// The --help text.
std::string CliHelpText();
