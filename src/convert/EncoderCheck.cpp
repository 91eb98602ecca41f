// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/EncoderCheck.h"

#include "app/DownloadJob.h"
#include "system/ConRun.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <map>
#include <mutex>

std::vector<std::string> ProfileEncoders(const std::string& params)
{
    static const std::set<std::string> options = {"-c:v", "-c:a", "-vcodec", "-acodec", "-codec:v", "-codec:a"};
    const std::vector<std::string> args = SplitCommandLine(params);
    std::vector<std::string> encoders;
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (options.count(args[i]) && args[i + 1] != "copy")
            encoders.push_back(args[++i]);
    return encoders;
}

std::set<std::string> AvailableEncoders(const std::string& ffmpegPath)
{
    struct TKnown {
        std::int64_t Modified = 0;
        std::set<std::string> Encoders;
    };
    static std::mutex mutex;
    static std::map<std::string, TKnown> known;
    const std::optional<std::int64_t> changed = ModifiedTimeNs(ffmpegPath);
    if (!changed)
        return {};
    const std::int64_t modified = *changed;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto it = known.find(ffmpegPath);
        if (it != known.end() && it->second.Modified == modified)
            return it->second.Encoders;
    }
    std::vector<std::string> lines;
    std::set<std::string> encoders;
    try {
        RunConsoleApp(ffmpegPath, std::vector<std::string>{"-hide_banner", "-encoders"}, &lines, nullptr);
    } catch (...) {
        return {};
    }
    // After the " ------" line: six flag characters, a blank, the name.
    bool table = false;
    for (const std::string& line : lines) {
        const std::string t = Trim(line);
        if (t.rfind("------", 0) == 0) {
            table = true;
            continue;
        }
        if (!table || t.size() < 8 || t[6] != ' ')
            continue;
        const std::string rest = TrimLeft(t.substr(7));
        const std::size_t end = rest.find(' ');
        encoders.insert(rest.substr(0, end));
    }
    const std::lock_guard<std::mutex> lock(mutex);
    known[ffmpegPath] = TKnown{modified, encoders};
    return encoders;
}

std::string MissingEncoder(const TEncoderProfile& profile, const std::set<std::string>& available)
{
    if (available.empty())
        return {};
    for (const std::string& encoder : ProfileEncoders(profile.Params))
        if (!available.count(encoder))
            return encoder;
    return {};
}

std::string MissingEncoderText(const std::string& encoder, bool polish)
{
    return polish ? "Wymaga kodera " + encoder + ", którego brak w zainstalowanym ffmpeg"
                  : "Needs the encoder " + encoder + ", which the installed ffmpeg lacks";
}
