// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/AddedJob.h"

#include "plan/JobPlanner.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/Texts.h"
#include "convert/EncoderProfiles.h"
#include "plan/GetRequest.h"
#include "plan/ListJobs.h"
#include "plan/OutputNaming.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "engine/PageList.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_YouTube.h"

#include <chrono>

namespace {

constexpr std::chrono::seconds LookUpLimit{20};

// The dialog's last choices, as it keeps them in the settings file.
struct TLastChoices {
    int FormatNumber = 22;
    int ProfileIndex = -1;
    bool Convert = false;
    bool DeleteInput = false;
};

TLastChoices ReadLastChoices()
{
    TLastChoices last;
    try {
        const TIniFile ini(SettingsFile);
        last.ProfileIndex = ini.ReadInteger("Main", "Profile", -1);
        last.Convert = ini.ReadBool("Main", "Convert", false);
        last.DeleteInput = ini.ReadBool("Main", "DeleteInputAfterConversion", false);
        const std::string format = ini.ReadString("Main", "YouTubeFormat", "MP4_720");
        last.FormatNumber = YouTubeFormats.back().FormatNumber;
        for (const TYouTubeFormat& f : YouTubeFormats)
            if (format == f.SettingsValue)
                last.FormatNumber = f.FormatNumber;
    } catch (...) {
    }
    return last;
}

} // namespace

TAddedJob ResolveAddedJob(const TAddedAddress& added, const std::atomic<bool>* cancel, bool polish)
{
    TAddedJob out;
    const TLastChoices last = ReadLastChoices();
    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(AppSettings.ProfilesFile);
    const TEncoderProfile* profile = nullptr;
    if (!added.Profile.empty()) {
        profile = FindProfileNamed(profiles, added.Profile);
        if (!profile) {
            out.Message = (polish ? "Nieznany profil: " : "Unknown profile: ") + added.Profile;
            return out;
        }
    } else if (last.Convert && last.ProfileIndex >= 0 && static_cast<std::size_t>(last.ProfileIndex) < profiles.size()) {
        profile = &profiles[static_cast<std::size_t>(last.ProfileIndex)];
    }
    int formatNumber = last.FormatNumber;
    if (!added.Format.empty()) {
        bool known = false;
        for (const TYouTubeFormat& f : YouTubeFormats)
            if (SameTextAscii(added.Format, f.SettingsValue)) {
                formatNumber = f.FormatNumber;
                known = true;
            }
        if (!known) {
            out.Message = (polish ? "Nieznany format: " : "Unknown format: ") + added.Format;
            return out;
        }
    }

    TGetRequest request;
    request.Url = added.Address;
    request.Directory = added.Directory.empty() ? AppSettings.LastDir : added.Directory;
    request.Convert = profile != nullptr;
    request.Profile = profile;
    request.DeleteInput = profile != nullptr && added.Profile.empty() && last.DeleteInput;
    request.FormatNumber = formatNumber;
    TJobPlanner planner(std::move(request), polish);
    if (!planner.Run(formatNumber, static_cast<int>(LookUpLimit.count()), cancel)) {
        out.Message = planner.Cancelled() ? std::string("-") : planner.Message();
        out.Details = planner.Details();
        return out;
    }
    out.Job = planner.Job();
    out.Title = ExtractFileName(out.Job.OutputFile);
    return out;
}

std::vector<TAddedAddress> ExpandPlaylist(const TAddedAddress& added, const std::atomic<bool>* cancel)
{
    TAddedAddress one = added;
    one.Playlist = false;
    TPageList list;
    {
        const TNetworkStepScope step(LookUpLimit, cancel);
        list = LookUpPageList(Trim(added.Address));
    }
    // A page that is no list (or could not be read as one) is the one job.
    if (!list.IsList || (cancel && *cancel))
        return {one};
    const std::string folder =
        ListFolder(UserOutputDir(added.Directory.empty() ? AppSettings.LastDir : added.Directory), list.Title,
                   AppSettings.ListInFolder);
    if (folder.empty())
        return {one};
    std::vector<TAddedAddress> entries;
    entries.reserve(list.Entries.size());
    for (const TPageListEntry& entry : list.Entries) {
        TAddedAddress each = one;
        each.Address = entry.Url;
        each.Directory = folder;
        entries.push_back(std::move(each));
    }
    return entries;
}

bool ParseAddArguments(const std::vector<std::string>& args, std::vector<TAddedAddress>& added, std::string& error)
{
    added.clear();
    if (args.empty() || args[0] != "--add") {
        error = "--add expected";
        return false;
    }
    TAddedAddress common;
    std::vector<std::string> addresses;
    bool onlyAddresses = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyAddresses || a.empty() || a[0] != '-') {
            addresses.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyAddresses = true;
        } else if (a == "--playlist") {
            common.Playlist = true;
        } else if (a == "-d" || a == "-f" || a == "-p") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "option " + a + " needs a value";
                return false;
            }
            std::string& value = a == "-d" ? common.Directory : a == "-f" ? common.Format : common.Profile;
            value = args[++i];
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (!common.Format.empty()) {
        bool known = false;
        for (const TYouTubeFormat& f : YouTubeFormats)
            known = known || SameTextAscii(common.Format, f.SettingsValue);
        if (!known) {
            error = "unknown format " + common.Format;
            return false;
        }
    }
    if (addresses.empty()) {
        error = "no address given";
        return false;
    }
    for (const std::string& address : addresses) {
        if (Trim(address).empty() || address.size() > JobPathMax) {
            error = "not an address: " + address.substr(0, 80);
            return false;
        }
        TAddedAddress one = common;
        one.Address = Trim(address);
        added.push_back(one);
    }
    return true;
}

namespace {
const std::string AddRequestWord = "add1";
constexpr std::size_t AddRequestMax = 10000;
} // namespace

std::string EncodeAddRequest(const std::vector<TAddedAddress>& added)
{
    std::string text = AddRequestWord + "\n";
    for (const TAddedAddress& a : added)
        text += EscapeField(a.Address) + " " + EscapeField(a.Directory) + " " + EscapeField(a.Format) + " " +
                EscapeField(a.Profile) + " " + (a.Playlist ? "1" : "0") + "\n";
    return text;
}

std::optional<std::vector<TAddedAddress>> ParseAddRequest(const std::string& text)
{
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.empty() || lines[0] != AddRequestWord || lines.size() > AddRequestMax + 1)
        return std::nullopt;
    std::vector<TAddedAddress> added;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (true) {
            const std::size_t blank = lines[i].find(' ', start);
            fields.push_back(lines[i].substr(start, blank == std::string::npos ? std::string::npos : blank - start));
            if (blank == std::string::npos)
                break;
            start = blank + 1;
        }
        if (fields.size() != 5 || (fields[4] != "0" && fields[4] != "1"))
            return std::nullopt;
        TAddedAddress a;
        const auto address = UnescapeField(fields[0]);
        const auto dir = UnescapeField(fields[1]);
        const auto format = UnescapeField(fields[2]);
        const auto profile = UnescapeField(fields[3]);
        if (!address || !dir || !format || !profile || address->empty() || address->size() > JobPathMax)
            return std::nullopt;
        added.push_back(TAddedAddress{*address, *dir, *format, *profile, fields[4] == "1"});
    }
    if (added.empty())
        return std::nullopt;
    return added;
}
