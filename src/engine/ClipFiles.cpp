// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ClipFiles.h"

#include "system/FileDescriptors.h"

#include "system/ConRun.h"
#include "engine/EngineFormat.h"
#include "system/FileNames.h"
#include "system/OutputFiles.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {
std::string InFolder(const std::string& dir, const std::string& name)
{
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string Seconds(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Moves from to a free name at target; never replaces anything.
std::string MoveToFreeName(const std::string& from, std::string target)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (PathExists(target))
            target = GetUniqueFileName(target);
        if (target.empty())
            return {};
        if (RenameFileNoReplace(from, target))
            return target;
        if (!PathExists(target))
            return {};
    }
    return {};
}
} // namespace

std::string ChapterFileName(const TChapterFile& chapter, int count)
{
    std::string number = std::to_string(chapter.Number);
    const std::size_t width = count >= 100 ? 3 : 2;
    if (number.size() < width)
        number.insert(0, width - number.size(), '0');
    std::string title = Trim(SanitizeTitle(EnsureUtf8(chapter.Title)));
    // The engine writes "/" as a look-alike; it stays one.
    if (title.empty())
        title = "Chapter " + std::to_string(chapter.Number);
    return SafeFileName(number + " - " + title + "." + LowerAscii(chapter.Ext));
}

std::string ChapterFolderFor(const std::string& video)
{
    const std::string name = ExtractFileName(video);
    const std::string ext = ExtractFileExt(name);
    std::string stem = name.substr(0, name.size() - ext.size());
    if (stem.empty())
        stem = name;
    return InFolder(ExtractFileDir(video), stem);
}

std::vector<std::string> MoveChapterFiles(const std::string& workDir, const std::string& video)
{
    std::vector<std::pair<TChapterFile, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(workDir, ec)) {
        const std::string name = entry.path().filename().string();
        const std::optional<TChapterFile> chapter = ParseChapterFileName(name);
        std::error_code typeError;
        if (!chapter || !entry.is_regular_file(typeError) || entry.is_symlink(typeError))
            continue;
        // A part file, or anything that is no media, is no chapter.
        if (!IsEngineResultExtension(chapter->Ext) || chapter->Title.ends_with(".part"))
            continue;
        found.emplace_back(*chapter, entry.path().string());
        if (found.size() > 1000)
            break;
    }
    std::vector<std::string> moved;
    if (found.empty())
        return moved;
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first.Number < b.first.Number; });
    const std::string folder = ChapterFolderFor(video);
    bool made = false;
    if (!DirectoryExists(folder)) {
        if (PathExists(folder) || !MakeFolder(folder, 0777))
            return moved;
        made = true;
    }
    const int count = static_cast<int>(found.size());
    for (const auto& [chapter, path] : found) {
        SetOrdinaryFileMode(path);
        const std::string target = MoveToFreeName(path, InFolder(folder, ChapterFileName(chapter, count)));
        if (!target.empty())
            moved.push_back(target);
    }
    if (made && moved.empty())
        RemoveEmptyFolder(folder);
    return moved;
}

TCutResult CutMediaFile(const std::string& ffmpeg, const std::string& file, const TTimeSection& asked,
                        double duration, const std::function<bool()>& shouldStop, bool polish)
{
    TCutResult result;
    std::string error;
    const std::optional<TTimeSection> section =
        FitSection(asked, duration > 0 ? std::optional<double>(duration) : std::nullopt, error, polish);
    if (!section) {
        result.Error = error;
        return result;
    }
    const std::string ext = ExtractFileExt(file);
    // The cut is made under a hidden name beside the file.
    const std::string cut = InFolder(ExtractFileDir(file), "." + ExtractFileName(file) + ".cut" + ext);
    RemoveName(cut);
    const std::vector<std::string> args = {
        "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
        "-ss", Seconds(section->Start), "-i", file, "-t", Seconds(section->End - section->Start),
        "-map", "0", "-map_metadata", "0", "-avoid_negative_ts", "make_zero", "-f",
        LowerAscii(ext) == ".mkv" ? "matroska" : LowerAscii(ext) == ".webm" ? "webm" : LowerAscii(ext) == ".mp3" ? "mp3" : "mp4",
        cut,
    };
    std::vector<std::string> lines;
    bool stopped = false;
    std::uint32_t code = 1;
    try {
        code = RunConsoleApp(
            ffmpeg, args, &lines, {}, TLineEndRule::LoneLfCompletes,
            [&](int pid) {
                if (!stopped && shouldStop && shouldStop()) {
                    stopped = true;
                    EndProcessGroup(pid);
                }
            });
    } catch (const std::exception& e) {
        RemoveName(cut);
        result.Error = (polish ? "Nie można uruchomić ffmpeg: " : "Could not run ffmpeg: ") + std::string(e.what());
        return result;
    }
    // A stop asked while the encoder ran counts even when the encoder ended
    // before it was looked at: the whole file stays.
    if (!stopped && shouldStop && shouldStop())
        stopped = true;
    if (stopped) {
        RemoveName(cut);
        result.Stopped = true;
        return result;
    }
    if (code != 0 || FileSizeOf(cut) <= 0) {
        RemoveName(cut);
        std::string reason = lines.empty() ? std::string() : ": " + Trim(lines.back());
        result.Error = (polish ? "Nie udało się wyciąć części filmu; cały plik pozostaje"
                               : "The part could not be cut; the whole file stays") +
                       reason;
        return result;
    }
    if (!ReplaceFile(cut, file)) {
        RemoveName(cut);
        result.Error = polish ? "Nie można zastąpić pliku wyciętą częścią" : "The file could not be replaced by the cut";
        return result;
    }
    SetOrdinaryFileMode(file);
    result.Ok = true;
    return result;
}

std::string SponsorServiceFailedText(bool polish)
{
    return polish ? "Usługa segmentów sponsorowanych nie odpowiedziała; film pobrano w całości, bez ich pomijania"
                  : "The sponsor segment service could not be reached; the video was downloaded whole, nothing left "
                    "out";
}

std::string ChaptersSavedText(std::size_t count, const std::string& folder, bool polish)
{
    return (polish ? "Rozdziały (" + std::to_string(count) + ") w folderze: "
                   : "Chapters (" + std::to_string(count) + ") in the folder: ") +
           folder;
}

std::string NoChaptersText(bool polish)
{
    return polish ? "Film nie ma rozdziałów; zapisano go w jednym pliku"
                  : "The video has no chapters; it was saved as one file";
}
