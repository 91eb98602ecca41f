// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DownloadJob.h"

#include "app/ProgramValues.h"
#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <algorithm>

TDownloadJob Job;

void ClearJob(TDownloadJob& job)
{
    job = TDownloadJob{};
}

TDownloadJob JobFromArgs(const std::vector<std::string>& args)
{
    TDownloadJob job;
    auto arg = [&args](std::size_t i) -> std::string { return i < args.size() ? args[i] : std::string(); };
    const std::size_t count = args.empty() ? 0 : args.size() - 1;
    if (count >= 1)
        job.Switch = Utf8Cut(LowerAscii(arg(1)), JobSwitchMax);
    if (count >= 2)
        job.Source = arg(2);
    if (count >= 3)
        job.MediaUrl = arg(3);
    if (count >= 4)
        job.OutputFile = arg(4);
    if (count >= 5)
        job.MainWindow = StrToInt32(arg(5)).value_or(0);
    if (count >= 6)
        job.ExpectedSize = StrToInt32(arg(6)).value_or(0);
    // Argument 7 (the sender's Auto close) is not read: the settings file decides.
    job.EncoderParams = Utf8Cut(arg(8), JobParamsMax);
    job.EncoderExt = Utf8Cut(arg(9), JobExtMax);
    job.TargetExt = Utf8Cut(arg(10), JobExtMax);
    job.DeleteInput = arg(11) == "1";
    if (arg(12) == "engine") {
        auto value = [](const std::string& s) { return s == "-" ? std::string() : s; };
        job.ThroughEngine = true;
        job.EngineFormat = value(Utf8Cut(arg(13), JobParamsMax));
        job.EngineMerge = value(Utf8Cut(arg(14), JobExtMax));
    }
    // The options, "NAME=VALUE"; an unknown name or a value too long is passed by.
    for (std::size_t i = job.ThroughEngine ? 15 : 12; i < args.size(); ++i) {
        const std::string& option = args[i];
        const std::size_t eq = option.find('=');
        if (eq == std::string::npos || option.size() - eq - 1 > JobPathMax)
            continue;
        const std::string name = option.substr(0, eq);
        const std::string value = option.substr(eq + 1);
        if (name == "metadata")
            job.EngineMetadata = value != "0";
        else if (name == "subs")
            job.EngineSubtitles = value;
        else if (name == "embed-subs")
            job.EngineEmbedSubtitles = value == "1";
        else if (name == "cookies-from")
            job.CookiesBrowser = value;
        else if (name == "cookies")
            job.CookiesFile = value;
        else if (name == "rate")
            job.RateLimit = std::max<std::int64_t>(0, StrToInt32(value).value_or(0));
        else if (name == "section")
            job.Section = value;
        else if (name == "chapters")
            job.SplitChapters = value == "1";
        else if (name == "sponsor")
            job.Sponsor = value;
        else if (name == "output-id")
            job.OutputId = FileIdFromText(value);
    }
    return job;
}

void ReadCommandLine(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    Job = JobFromArgs(args);
}

bool IsJobValid(const TDownloadJob& job)
{
    if (job.Switch != "-get" || job.OutputFile.empty())
        return false;
    if (job.Source.size() > JobPathMax || job.MediaUrl.size() > JobPathMax || job.OutputFile.size() > JobPathMax)
        return false;
    if (job.ThroughEngine)
        return !job.MediaUrl.empty() && job.MediaUrl != "-";
    return !job.MediaUrl.empty() || FileExists(job.Source);
}

bool JobConverts(const TDownloadJob& job)
{
    const std::string params = Trim(job.EncoderParams);
    return !params.empty() && params != "-";
}

std::vector<std::string> JobToArgs(const TDownloadJob& job, bool autoClose)
{
    auto field = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    std::vector<std::string> args = {
        "-get",
        job.Source,
        field(job.MediaUrl),
        job.OutputFile,
        std::to_string(job.MainWindow),
        std::to_string(job.ExpectedSize),
        autoClose ? "1" : "0",
        field(job.EncoderParams),
        field(job.EncoderExt),
        field(job.TargetExt),
        job.DeleteInput ? "1" : "0",
    };
    if (job.ThroughEngine) {
        args.emplace_back("engine");
        args.push_back(field(job.EngineFormat));
        args.push_back(field(job.EngineMerge));
    }
    if (!job.EngineMetadata)
        args.emplace_back("metadata=0");
    if (!job.EngineSubtitles.empty())
        args.push_back("subs=" + job.EngineSubtitles);
    if (job.EngineEmbedSubtitles)
        args.emplace_back("embed-subs=1");
    if (!job.CookiesBrowser.empty())
        args.push_back("cookies-from=" + job.CookiesBrowser);
    if (!job.CookiesFile.empty())
        args.push_back("cookies=" + job.CookiesFile);
    if (job.RateLimit > 0)
        args.push_back("rate=" + std::to_string(job.RateLimit));
    if (!job.Section.empty())
        args.push_back("section=" + job.Section);
    if (job.SplitChapters)
        args.emplace_back("chapters=1");
    if (!job.Sponsor.empty())
        args.push_back("sponsor=" + job.Sponsor);
    if (job.OutputId)
        args.push_back("output-id=" + FileIdText(*job.OutputId));
    return args;
}

std::string BuildGetParams(const TDownloadJob& job, bool autoClose)
{
    const std::vector<std::string> args = JobToArgs(job, autoClose);
    std::string text = args[0];
    for (std::size_t i = 1; i < args.size(); ++i)
        text += " \"" + args[i] + "\"";
    return text;
}

