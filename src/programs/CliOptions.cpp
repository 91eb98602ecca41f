// SPDX-License-Identifier: GPL-3.0-or-later
#include "programs/CliOptions.h"

bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options, std::string& error)
{
    options = TCliOptions{};
    bool onlyInputs = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyInputs || a.empty() || a == "-" || a[0] != '-') {
            options.Inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyInputs = true;
            continue;
        }
        // "--dir=X" and "-dX" as well as "--dir X" and "-d X".
        std::string name = a;
        std::string value;
        bool hasValue = false;
        if (a.rfind("--", 0) == 0) {
            const std::size_t eq = a.find('=');
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
                hasValue = true;
            }
        } else if (a.size() > 2) {
            name = a.substr(0, 2);
            value = a.substr(2);
            hasValue = true;
        }
        auto take = [&](std::string& into) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    error = "option " + name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            into = value;
            return true;
        };
        auto flag = [&](bool& into) {
            if (hasValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            into = true;
            return true;
        };
        bool ok = true;
        if (name == "-d" || name == "--dir")
            ok = take(options.Directory);
        else if (name == "-o" || name == "--output")
            ok = take(options.OutputName);
        else if (name == "-f" || name == "--format")
            ok = take(options.Format);
        else if (name == "-p" || name == "--profile")
            ok = take(options.Profile);
        else if (name == "--delete-input")
            ok = flag(options.DeleteInput);
        else if (name == "--list-profiles")
            ok = flag(options.ListProfiles);
        else if (name == "--list-formats")
            ok = flag(options.ListFormats);
        else if (name == "-q" || name == "--quiet")
            ok = flag(options.Quiet);
        else if (name == "-h" || name == "--help")
            ok = flag(options.Help);
        else if (name == "--version")
            ok = flag(options.Version);
        else if (name == "--update-engine")
            ok = flag(options.UpdateEngine);
        else if (name == "--restore-engine")
            ok = flag(options.RestoreEngine);
        else if (name == "--engine-status")
            ok = flag(options.EngineStatus);
        else if (name == "--channel")
            ok = take(options.Channel);
        else if (name == "--playlist")
            ok = flag(options.Playlist);
        else if (name == "--no-metadata")
            ok = flag(options.NoMetadata);
        else if (name == "--subs")
            ok = take(options.Subtitles);
        else if (name == "--embed-subs")
            ok = flag(options.EmbedSubtitles);
        else if (name == "--cookies-from")
            ok = take(options.CookiesFrom);
        else if (name == "--cookies")
            ok = take(options.CookiesFile);
        else if (name == "--limit-rate")
            ok = take(options.LimitRate);
        else if (name == "--connections") {
            std::string count;
            ok = take(count);
            if (ok && (count.empty() || count.size() > 2 || count.find_first_not_of("0123456789") != std::string::npos ||
                       std::stoi(count) < 1 || std::stoi(count) > 16)) {
                error = "option --connections takes a number from 1 to 16";
                return false;
            }
            if (ok)
                options.Connections = std::stoi(count);
        }
        else if (name == "--section")
            ok = take(options.Sections.emplace_back());
        else if (name == "--follow")
            ok = take(options.Follow);
        else if (name == "--unfollow")
            ok = take(options.Unfollow);
        else if (name == "--following")
            ok = flag(options.Following);
        else if (name == "--check")
            ok = flag(options.Check);
        else if (name == "--latest") {
            std::string count;
            ok = take(count);
            if (ok && (count.empty() || count.size() > 5 || count.find_first_not_of("0123456789") != std::string::npos)) {
                error = "option --latest takes a number of videos (0 to 99999)";
                return false;
            }
            if (ok)
                options.Latest = static_cast<std::size_t>(std::stoul(count));
        } else if (name == "--split-chapters")
            ok = flag(options.SplitChapters);
        else if (name == "--sponsor")
            ok = take(options.Sponsor);
        else if (name == "--sponsor-categories")
            ok = take(options.SponsorCategories);
        else {
            error = "unknown option " + name;
            return false;
        }
        if (!ok)
            return false;
    }
    if (!options.Channel.empty() && options.Channel != "stable" && options.Channel != "nightly") {
        error = "option --channel takes stable or nightly";
        return false;
    }
    if (!options.Channel.empty() && !options.UpdateEngine) {
        error = "option --channel needs --update-engine";
        return false;
    }
    if (options.Help || options.Version || options.ListProfiles || options.UpdateEngine || options.RestoreEngine ||
        options.EngineStatus)
        return true;
    const int following = !options.Follow.empty() + !options.Unfollow.empty() + options.Following + options.Check;
    if (following > 1) {
        error = "options --follow, --unfollow, --following and --check exclude each other";
        return false;
    }
    if (options.Latest > 0 && options.Follow.empty()) {
        error = "option --latest needs --follow";
        return false;
    }
    if (following == 1) {
        if (!options.Inputs.empty()) {
            error = "no address is taken besides the followed pages";
            return false;
        }
        if ((!options.Directory.empty() || !options.Format.empty() || !options.Profile.empty()) && options.Follow.empty()) {
            error = "options -d, -f and -p go with --follow";
            return false;
        }
        return true;
    }
    if (options.Inputs.empty()) {
        error = "no address or file given";
        return false;
    }
    if (!options.OutputName.empty() && options.Inputs.size() > 1) {
        error = "option -o takes one input only";
        return false;
    }
    if (!options.OutputName.empty() && options.Playlist) {
        error = "option -o can't name the files of --playlist";
        return false;
    }
    if (options.DeleteInput && options.Profile.empty()) {
        error = "option --delete-input needs -p";
        return false;
    }
    return true;
}

std::string CliHelpText()
{
    return "Usage: brimtale-cli [OPTION]... ADDRESS|FILE...\n"
           "Saves the video behind each page address (or takes a local video file) and\n"
           "converts it with ffmpeg, as the Brimtale window does.\n"
           "\n"
           "  -d, --dir DIR        output directory (default: the last one the program\n"
           "                       used, else its default output directory); \"~\" and\n"
           "                       relative paths are taken in the home folder\n"
           "  -o, --output NAME    output file name (one input only; default: proposed\n"
           "                       from the page title, or the input's name)\n"
           "  -f, --format FORMAT  YouTube format: MP4_1080, MP4_720 (default), MP4_360,\n"
           "                       FLV_480, FLV_360, FLV_240 (letter case ignored); or,\n"
           "                       for any page, best, 1080p, 720p, 480p (the best up\n"
           "                       to that height), audio (the audio stream alone), or\n"
           "                       a format id of --list-formats\n"
           "  -p, --profile NAME   convert with this profile: its section or display name,\n"
           "                       letter case ignored (see --list-profiles); a local file\n"
           "                       needs one\n"
           "      --delete-input   delete the input after a successful conversion\n"
           "      --playlist       when a page lists several videos, download every one\n"
           "                       of them in order, each named from its title (in a\n"
           "                       folder named after the list, unless the settings say\n"
           "                       otherwise); without it only the first\n"
           "      --list-profiles  print each profile as SECTION<TAB>DISPLAY NAME and exit\n"
           "      --list-formats   print the formats each address offers and exit: for\n"
           "                       YouTube the names above, for any other page the page\n"
           "                       engine's, one a line: ID, container, resolution,\n"
           "                       frame rate, codecs, size (tab-separated)\n"
           "      --subs LANGS     save the page's subtitles in these languages (a comma\n"
           "                       list, or all) beside the video as NAME.LANG.srt\n"
           "      --embed-subs     with --subs: put them inside the file (MP4, MKV)\n"
           "      --no-metadata    no title, chapters or cover picture in the file\n"
           "      --cookies-from BROWSER[:PROFILE]\n"
           "                       sign in with the cookies of firefox, chromium, chrome\n"
           "                       or brave (a profile's name or folder)\n"
           "      --cookies FILE   sign in with the cookies of a file (Netscape format)\n"
           "      --limit-rate RATE  download no faster than RATE bytes a second (500K,\n"
           "                       2M)\n"
           "      --connections N  fetch a file over N connections at once (1-16;\n"
           "                       default: the Connections setting, 4)\n"
           "      --section START-END  only this part of the video (1:30-2:45, 90-165,\n"
           "                       1m30s-2m45s), named NAME [1m30s-2m45s].EXT; again\n"
           "                       for more parts, each a file of its own\n"
           "      --split-chapters also one file per chapter, in a folder named after\n"
           "                       the video: NN - Chapter title.EXT\n"
           "      --sponsor remove|mark  leave out the sponsor segments the SponsorBlock\n"
           "                       service knows of, or mark them as chapters (needs the\n"
           "                       internet; when the service fails the video comes whole)\n"
           "      --sponsor-categories LIST  with --sponsor: a comma list of sponsor,\n"
           "                       self-promotion, interaction-reminder, intro, outro\n"
           "                       (default: sponsor)\n"
           "      --follow URL     follow a channel or list: its videos listed from now\n"
           "                       on are downloaded by --check (with this -d, -f, -p)\n"
           "      --latest N       with --follow: the N first videos listed now (a\n"
           "                       channel lists its newest first) are taken too\n"
           "      --unfollow URL   follow the page no more\n"
           "      --following      print each followed page: address, folder, last\n"
           "                       check, videos taken (tab-separated)\n"
           "      --check          check every followed page once: the videos not taken\n"
           "                       before are downloaded into its folder; what was taken\n"
           "                       is kept, so nothing comes twice\n"
           "      --update-engine  fetch the newest page engine (yt-dlp), check its\n"
           "                       signature and hash, and use it; also fetches deno\n"
           "                       when there is no JavaScript runtime\n"
           "      --channel CHANNEL  with --update-engine: stable (default) or nightly\n"
           "      --restore-engine put the page engine before the last update back\n"
           "      --engine-status  print the page engine and JavaScript runtime in use\n"
           "  -q, --quiet          errors only\n"
           "  -h, --help           this text\n"
           "      --version        the program's version\n"
           "\n"
           "For each input, the full path of the final file (the converted one when\n"
           "converting) goes to standard output when it is done; progress and messages go\n"
           "to standard error. An existing file is never overwritten: a numbered name is\n"
           "used instead. Settings, history and profiles are read from where the program\n"
           "keeps them; nothing of the dialog's settings is written.\n"
           "\n"
           "Exit status: 0 when every input succeeded, 1 when any failed (the others still\n"
           "run), 2 for bad usage, 130 when interrupted (Ctrl+C stops the transfer and\n"
           "the encoder and keeps the partial file).\n";
}
