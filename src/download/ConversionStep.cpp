// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/ConversionStep.h"

#include "system/ConRun.h"
#include "download/GetMainTexts.h"
#include "system/OutputFiles.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <stdexcept>

namespace {
std::string InSameDir(const std::string& path, const std::string& name)
{
    const std::string dir = ExtractFileDir(path);
    return dir.empty() ? name : (dir.back() == '/' ? dir + name : dir + "/" + name);
}

// Only the empty file that holds the name for this conversion is replaced.
bool IsOurReservation(const std::string& path)
{
    return IsEmptyRegularFile(path);
}

// Gives the encoder's finished file its name: over the empty file that held it,
// or, when something else took its place meanwhile, under the next free name.
std::string PutInPlace(const std::string& temp, const std::string& output)
{
    if (IsOurReservation(output) && ReplaceFile(temp, output))
        return output;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string free = GetUniqueFileName(output);
        if (free.empty())
            return {};
        if (RenameFileNoReplace(temp, free))
            return free;
    }
    return {};
}
} // namespace

TConversionTarget ReserveConversionTarget(const TDownloadJob& job, bool localSource)
{
    const TConversionNames names = ConversionNames(job, localSource);
    TConversionTarget target;
    target.Input = names.Input;
    const std::string wanted = names.FinalOutput.empty() ? names.EncoderOutput : names.FinalOutput;
    // The input exists, so its own name is never the one taken.
    target.Output = ReserveOutputFile(wanted, false);
    if (target.Output.empty())
        return target;
    target.Temp = InSameDir(target.Output, "." + Utf8Cut(ExtractFileName(target.Output), 200) + ".part" +
                                                ExtractFileExt(names.EncoderOutput));
    return target;
}

bool EncoderSaysDiskFull(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        if (line.find("No space left on device") != std::string::npos)
            return true;
    return false;
}

TConversionResult RunConversion(const TDownloadJob& job, bool localSource, const std::string& encoder,
                                const std::string& defaultVideoBitrate, const TConversionHooks& hooks, bool polish)
{
    const TGetMainTexts& t = GetMainTexts(polish);
    TConversionResult result;
    const TConversionTarget target = ReserveConversionTarget(job, localSource);
    result.Input = target.Input;
    if (target.Output.empty()) {
        result.Reason = std::string(t.NoFreeName) + ConversionNames(job, localSource).Output;
        return result;
    }
    // The name is this job's: a temporary file under it is a leftover.
    RemoveFile(target.Temp);
    const auto cleanUp = [&] {
        RemoveFile(target.Temp);
        ReleaseOutputFile(target.Output, false);
    };
    const auto stopRequested = [&] { return hooks.ShouldStop && hooks.ShouldStop(); };
    bool stopped = false;
    const auto tick = [&](int pid) {
        if (hooks.OnTick)
            hooks.OnTick(pid);
        if (!stopped && stopRequested()) {
            stopped = true;
            EndProcessGroup(pid);
        }
    };
    const std::string program = encoder.empty() ? std::string("ffmpeg") : encoder;
    std::vector<std::string>& lines = hooks.Lines ? *hooks.Lines : result.Lines;
    lines.clear();
    try {
        ProbeMediaFile(target.Input, encoder, result.Info, tick);
        if (stopped || stopRequested()) {
            cleanUp();
            result.End = TConversionEnd::Stopped;
            return result;
        }
        if (hooks.OnProbed)
            hooks.OnProbed(result.Info, target);
        if (stopRequested()) {
            cleanUp();
            result.End = TConversionEnd::Stopped;
            return result;
        }
        const std::vector<std::string> args =
            BuildEncoderArgs(job.EncoderParams, defaultVideoBitrate, target.Input, target.Temp,
                             AspectText(result.Info.Width, result.Info.Height));
        TProgressReader reader;
        TConversionProgress last;
        result.ExitCode = RunConsoleApp(
            program, args, &lines,
            [&](int pid, const std::string&) {
                TConversionProgress progress = reader.Read(lines);
                // A message between two progress lines keeps what was last read.
                if (progress.TimeSeconds < 0 && progress.Frames == 0)
                    progress = last;
                last = progress;
                if (hooks.OnProgress)
                    hooks.OnProgress(pid, progress, ConversionPercent(progress.TimeSeconds, result.Info.DurationSeconds));
                if (!stopped && stopRequested()) {
                    stopped = true;
                    EndProcessGroup(pid);
                }
            },
            TLineEndRule::LoneLfCompletes, tick);
    } catch (const std::exception& e) {
        cleanUp();
        result.Reason = e.what();
        return result;
    }
    TrimAndReadProgress(lines);
    if (hooks.Lines)
        result.Lines = lines;
    if (stopped || stopRequested()) {
        cleanUp();
        result.End = TConversionEnd::Stopped;
        return result;
    }
    if (result.ExitCode != 0) {
        cleanUp();
        result.EncoderFailed = true;
        result.Reason = EncoderSaysDiskFull(result.Lines)
                            ? std::string(t.DiskFull) + ExtractFileDir(target.Output)
                            : std::string(t.ErrorPrefix) + std::to_string(result.ExitCode) + ")";
        return result;
    }
    if (FileSizeOf(target.Temp) <= 0) {
        cleanUp();
        result.Reason = t.NoOutput;
        return result;
    }
    result.File = PutInPlace(target.Temp, target.Output);
    if (result.File.empty()) {
        cleanUp();
        result.Reason = std::string(t.NoFreeName) + target.Output;
        return result;
    }
    if (result.File != target.Output)
        ReleaseOutputFile(target.Output, false);
    if (job.DeleteInput)
        RemoveFile(target.Input);
    result.End = TConversionEnd::Converted;
    return result;
}

TCutResult CutJobToSection(const TDownloadJob& job, const std::string& ffmpeg, const std::function<bool()>& stop,
                           bool polish)
{
    const std::optional<TTimeSection> section = SectionFromValue(job.Section);
    if (!section) {
        TCutResult nothing;
        nothing.Ok = true;
        return nothing;
    }
    TMediaInfo info;
    ProbeMediaFile(job.OutputFile, ffmpeg, info);
    return CutMediaFile(ffmpeg, job.OutputFile, *section, info.Duration, stop, polish);
}
