// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/OutputFiles.h"

#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include "system/FileDescriptors.h"

#include <cerrno>

namespace {
constexpr int MaxVariants = 10000;

// "NAME.mp4" for n 0, "NAME_01.mp4", "NAME_02.mp4", ... after it.
std::string Variant(const std::string& path, int n)
{
    if (n == 0)
        return path;
    const std::string ext = ExtractFileExt(path);
    const std::string base = path.substr(0, path.size() - ext.size());
    return base + "_" + PadLeft(std::to_string(n), 2, '0') + ext;
}
} // namespace

std::string EngineWorkDir(const std::string& outputFile)
{
    const std::string dir = ExtractFileDir(outputFile);
    const std::string name = "." + Utf8Cut(ExtractFileName(outputFile), 200) + ".parts";
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsOutputNameTaken(const std::string& path)
{
    return PathExists(path) || PathExists(EngineWorkDir(path));
}

std::string GetUniqueFileName(const std::string& path)
{
    for (int n = 0; n <= MaxVariants; ++n) {
        const std::string candidate = Variant(path, n);
        if (!IsOutputNameTaken(candidate))
            return candidate;
    }
    // Every numbered name is taken: no name rather than one that exists.
    return {};
}

std::string ReserveOutputFile(const std::string& path, bool throughEngine)
{
    if (path.empty())
        return {};
    for (int n = 0; n <= MaxVariants; ++n) {
        const std::string candidate = Variant(path, n);
        const std::string workDir = EngineWorkDir(candidate);
        if (throughEngine) {
            // The folder is made only where no file has the name yet; mkdir
            // fails when another job made it first.
            if (PathExists(candidate))
                continue;
            if (!MakeFolder(workDir, 0700)) {
                if (errno != EEXIST)
                    return {};  // not for want of a free name (no rights, no such folder)
                continue;
            }
            if (!PathExists(candidate))
                return candidate;
            RemoveEmptyFolder(workDir);
        } else {
            if (PathExists(workDir))
                continue;
            const int fd = OpenRegular(candidate, TOpenAccess::Write, TOpenCreate::NewOnly, 0666);
            if (fd >= 0) {
                CloseFile(fd);
                return candidate;
            }
            if (errno != EEXIST)
                return {};
        }
    }
    return {};
}

void ReleaseOutputFile(const std::string& path, bool throughEngine)
{
    if (path.empty())
        return;
    if (throughEngine) {
        RemoveEmptyFolder(EngineWorkDir(path));  // only an empty folder goes
        return;
    }
    const TPathInfo info = PathInfoOf(path);
    if (info.Regular && info.Size == 0)
        RemoveName(path);
}

std::optional<TFileId> RemakeOutputFile(const std::string& path)
{
    if (path.empty() || PathExists(EngineWorkDir(path)))
        return std::nullopt;
    const int fd = OpenRegular(path, TOpenAccess::Write, TOpenCreate::NewOnly, 0666);
    if (fd < 0)
        return std::nullopt;
    const std::optional<TFileId> id = OpenFileId(fd);
    CloseFile(fd);
    return id;
}
