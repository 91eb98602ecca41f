#include "app/DownloadJob.h"

#include "app/ProgramValues.h"
#include "net/ZQ_Conversion.h"
#include "net/ZQ_FileSystem.h"
#include "net/ZQ_Strings.h"

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

std::vector<std::string> SplitCommandLine(const std::string& text)
{
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto isSeparator = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    while (true) {
        while (i < n && isSeparator(text[i]))
            ++i;
        // An empty quoted pair where an argument would begin is skipped.
        while (i + 1 < n && text[i] == '"' && text[i + 1] == '"') {
            i += 2;
            while (i < n && isSeparator(text[i]))
                ++i;
        }
        if (i >= n)
            break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !isSeparator(text[i]))) {
            if (text[i] == '"')
                quoted = !quoted;
            else
                arg.push_back(text[i]);
            ++i;
        }
        args.push_back(arg);
    }
    return args;
}
