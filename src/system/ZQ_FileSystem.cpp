// SPDX-License-Identifier: GPL-3.0-or-later
// File and path helpers, the part every system shares. The calls into the
// system are in posix/FileSystemPosix.cpp and windows/FileSystemWindows.cpp.
#include "system/ZQ_FileSystem.h"

#include "system/FileDescriptors.h"
#include "system/Platform.h"

#include <algorithm>
#include <cstdint>

namespace {
// Appends to text what the descriptor gives, up to wanted bytes in all;
// false when a read fails.
bool ReadUpTo(int fd, std::string& text, std::size_t wanted)
{
    char buffer[65536];
    while (text.size() < wanted) {
        const std::size_t room = std::min(sizeof buffer, wanted - text.size());
        const long long n = ReadSome(fd, buffer, room);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}
} // namespace

TWholeFile ReadWholeFile(const std::string& path, std::size_t maxBytes, TLinkAtName links)
{
    TWholeFile file;
    std::int64_t size = 0;
    const int fd = OpenForReading(path, links, file.Status, size);
    if (fd < 0)
        return file;
    // A size claimed over the limit is refused at once; a smaller claim is not
    // trusted: the reading below stops at the limit by itself.
    if (size > 0 && static_cast<std::uint64_t>(size) > maxBytes) {
        CloseFile(fd);
        file.Status = TFileRead::TooBig;
        return file;
    }
    if (size > 0)
        file.Text.reserve(static_cast<std::size_t>(size));
    // Up to one byte past the limit, to tell "exactly the limit" from "more".
    const std::size_t wanted = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    if (!ReadUpTo(fd, file.Text, wanted))
        file.Status = TFileRead::ReadFailed;
    CloseFile(fd);
    if (file.Status == TFileRead::Ok && file.Text.size() > maxBytes)
        file.Status = TFileRead::TooBig;
    if (file.Status != TFileRead::Ok)
        std::string().swap(file.Text);
    return file;
}

TWholeFile ReadFileLines(const std::string& path, std::size_t maxBytes, std::uint64_t& linesBeyond)
{
    linesBeyond = 0;
    TWholeFile file;
    std::int64_t size = 0;
    const int fd = OpenForReading(path, TLinkAtName::Follow, file.Status, size);
    if (fd < 0)
        return file;
    if (!ReadUpTo(fd, file.Text, maxBytes)) {
        CloseFile(fd);
        file = TWholeFile{TFileRead::ReadFailed, {}};
        return file;
    }
    // What is past the limit is only counted, a chunk at a time; so is a
    // line that the limit cut.
    std::string rest;
    const std::size_t lastEnd = file.Text.rfind('\n');
    if (file.Text.size() == maxBytes) {
        rest = file.Text.substr(lastEnd == std::string::npos ? 0 : lastEnd + 1);
        file.Text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
        for (;;) {
            const bool ended = rest.empty() || rest.back() == '\n';
            linesBeyond += static_cast<std::uint64_t>(std::count(rest.begin(), rest.end(), '\n'));
            rest.clear();
            if (!ReadUpTo(fd, rest, 1 << 20) || rest.empty()) {
                if (!ended)
                    ++linesBeyond;  // a last line without its end
                break;
            }
        }
    }
    CloseFile(fd);
    return file;
}

std::string FileReadText(TFileRead status)
{
    switch (status) {
    case TFileRead::Ok:
        return "read";
    case TFileRead::CannotOpen:
        return "cannot be opened";
    case TFileRead::NotRegular:
        return "not a regular file";
    case TFileRead::TooBig:
        return "larger than allowed";
    case TFileRead::ReadFailed:
        return "cannot be read";
    }
    return {};
}

bool CreateEmptyFile(const std::string& path)
{
    const int fd = OpenOwnFileForWriting(path, true);
    if (fd < 0)
        return false;
    CloseFile(fd);
    return true;
}

std::string CleanDirPath(const std::string& path)
{
    std::string p = path;
    if (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0) {
        p.erase(p.size() - 2);
        if (p.empty())
            return std::string(1, '/');
    }
    return p;
}

std::string ExtractFileName(const std::string& path)
{
    const std::size_t p = path.find_last_of(PathSeparators);
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileDir(const std::string& path)
{
    const std::size_t p = path.find_last_of(PathSeparators);
    if (p == std::string::npos)
        return {};
    if (p == 0)
        return "/";
    return path.substr(0, p);
}

std::string ExtractFileExt(const std::string& path)
{
    const std::string name = ExtractFileName(path);
    const std::size_t p = name.rfind('.');
    return p == std::string::npos ? std::string() : name.substr(p);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    const std::size_t slash = path.find_last_of(PathSeparators);
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ext;
    return path.substr(0, dot) + ext;
}

std::string FileIdText(const TFileId& id)
{
    return std::to_string(id.Device) + ":" + std::to_string(id.Inode);
}

std::optional<TFileId> FileIdFromText(std::string_view text)
{
    const auto number = [](std::string_view digits) -> std::optional<std::uint64_t> {
        if (digits.empty() || digits.size() > 19)
            return std::nullopt;
        std::uint64_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    };
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto device = number(text.substr(0, colon));
    const auto inode = number(text.substr(colon + 1));
    if (!device || !inode)
        return std::nullopt;
    return TFileId{*device, *inode};
}

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsEmptyRegularFile(const std::string& path)
{
    const TPathInfo info = PathInfoOf(path);
    return info.Regular && info.Size == 0;
}

void RemoveIfEmptyFile(const std::string& path)
{
    if (IsEmptyRegularFile(path))
        RemoveFile(path);
}
