// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/IniFile.h"

#include "base/ZQ_Conversion.h"
#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <cstdio>
#include <random>

namespace {
bool IsHeader(const std::string& line, std::string* name)
{
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    const std::size_t close = t.find(']');
    if (close == std::string::npos)
        return false;
    if (name)
        *name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyOf(const std::string& line, std::string& key)
{
    const std::string t = TrimLeft(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return false;
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(t.substr(0, eq));
    return true;
}
} // namespace

void TIniDocument::Parse(const std::string& text)
{
    lines_ = SplitLines(text);
}

std::string TIniDocument::Text() const
{
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> TIniDocument::Sections() const
{
    std::vector<std::string> names;
    for (const std::string& line : lines_) {
        std::string name;
        if (!IsHeader(line, &name))
            continue;
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || SameTextAscii(n, name);
        if (!seen)
            names.push_back(name);
    }
    return names;
}

long TIniDocument::FindSection(const std::string& section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        std::string name;
        if (IsHeader(lines_[i], &name) && SameTextAscii(name, Trim(section)))
            return static_cast<long>(i);
    }
    return -1;
}

long TIniDocument::SectionEnd(long header) const
{
    std::size_t i = static_cast<std::size_t>(header) + 1;
    while (i < lines_.size() && !IsHeader(lines_[i], nullptr))
        ++i;
    return static_cast<long>(i);
}

long TIniDocument::FindKey(long header, const std::string& key) const
{
    const long end = SectionEnd(header);
    for (long i = header + 1; i < end; ++i) {
        std::string k;
        if (KeyOf(lines_[static_cast<std::size_t>(i)], k) && SameTextAscii(k, Trim(key)))
            return i;
    }
    return -1;
}

bool TIniDocument::HasKey(const std::string& section, const std::string& key) const
{
    const long header = FindSection(section);
    return header >= 0 && FindKey(header, key) >= 0;
}

std::string TIniDocument::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) const
{
    const long header = FindSection(section);
    if (header < 0)
        return def;
    const long at = FindKey(header, key);
    if (at < 0)
        return def;
    const std::string& line = lines_[static_cast<std::size_t>(at)];
    std::string value = Trim(line.substr(line.find('=') + 1));
    // A value written in matching quotes is read without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

void TIniDocument::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    // A value can't carry a line break; it would split the file's lines.
    std::string clean;
    for (char c : value)
        if (c != '\r' && c != '\n')
            clean.push_back(c);
    const std::string line = key + "=" + clean;
    long header = FindSection(section);
    if (header < 0) {
        if (!lines_.empty() && !Trim(lines_.back()).empty())
            lines_.push_back("");
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
        return;
    }
    const long at = FindKey(header, key);
    if (at >= 0) {
        lines_[static_cast<std::size_t>(at)] = line;
        return;
    }
    // Add the key after the section's last non-blank line.
    long end = SectionEnd(header);
    while (end - 1 > header && Trim(lines_[static_cast<std::size_t>(end - 1)]).empty())
        --end;
    lines_.insert(lines_.begin() + end, line);
}

std::string FinalLinkTarget(const std::string& fileName)
{
    std::string path = fileName;
    // A chain of links is followed to its end; a loop gives up after a while.
    for (int hops = 0; hops < 40; ++hops) {
        std::optional<std::string> link = LinkTarget(path);
        if (!link || link->empty())
            return path;
        std::string target = *link;
        if (target.front() != '/' && !IsAbsolutePath(target)) {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos)
                target = path.substr(0, slash + 1) + target;
        }
        path = target;
    }
    return path;
}

namespace {
class TFileLock {
public:
    // An exclusive lock on "<file>.lock", held until the object goes.
    explicit TFileLock(const std::string& fileName)
    {
        fd_ = OpenRegular(fileName + ".lock", TOpenAccess::ReadWrite, TOpenCreate::IfMissing, 0644);
        if (fd_ < 0)
            return;
        if (!LockFile(fd_, TLockWait::Wait))
            Release();
    }
    ~TFileLock() { Release(); }
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    void Release()
    {
        CloseFile(fd_); // closing the last descriptor lets the lock go
        fd_ = -1;
    }
    int fd_ = -1;
};

// Puts text in place of target (a path that is no link) through a temporary file
// beside it, with the owner and mode of the file it replaces.
bool ReplaceWith(const std::string& target, const std::string& text)
{
    const TPathInfo old = PathInfoOf(target);
    if (old.Exists && !old.Regular)
        return false; // never put a file over a directory, FIFO or device
    if (old.Exists && !MayWrite(target))
        return false; // a read-only file stays as it is
    std::random_device rd;
    const std::string temp = target + ".tmp" + std::to_string(OwnProcessId()) + "_" + std::to_string(rd());
    const int fd = OpenRegular(temp, TOpenAccess::Write, TOpenCreate::NewOnly, 0644);
    if (fd < 0)
        return false;
    if (old.Exists)
        KeepOwnerAndMode(target, fd);
    bool ok = WriteAll(fd, text.data(), text.size());
    ok = SyncFile(fd) && ok;
    ok = CloseFile(fd) && ok;
    if (ok)
        ok = ReplaceFile(temp, target);
    if (!ok)
        RemoveName(temp);
    return ok;
}
} // namespace

bool UpdateFileLocked(const std::string& fileName, std::size_t maxBytes,
                      const std::function<bool(const std::string* current, std::string& replacement)>& edit)
{
    const std::string target = FinalLinkTarget(fileName);
    const TFileLock lock(target);
    if (!lock.Held())
        return false;
    const TWholeFile current = ReadWholeFile(target, maxBytes);
    if (!current.Ok() && PathExists(target))
        return false; // there, but unreadable, too large or no regular file: leave it alone
    std::string replacement;
    if (!edit(current.Ok() ? &current.Text : nullptr, replacement))
        return false;
    return ReplaceWith(target, replacement);
}

bool WriteFileAtomically(const std::string& fileName, const std::string& text)
{
    const std::string target = FinalLinkTarget(fileName);
    const TFileLock lock(target);
    return lock.Held() && ReplaceWith(target, text);
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName))
{
    if (const TWholeFile file = ReadWholeFile(fileName_, MaxFileSize); file.Ok())
        doc_.Parse(file.Text);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    return doc_.ReadString(section, key, def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    const auto v = StrToInt32(doc_.ReadString(section, key, ""));
    return v ? *v != 0 : def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    const auto v = StrToInt32(doc_.ReadString(section, key, ""));
    return v ? *v : def;
}

bool TIniFile::WriteStrings(const std::vector<std::pair<std::string, std::pair<std::string, std::string>>>& entries)
{
    // Start from what is on disk now, under the lock, so that keys another
    // process wrote stay.
    TIniDocument fresh;
    const bool ok = UpdateFileLocked(fileName_, MaxFileSize, [&](const std::string* current, std::string& out) {
        if (current)
            fresh.Parse(*current);
        for (const auto& [section, kv] : entries)
            fresh.WriteString(section, kv.first, kv.second);
        out = fresh.Text();
        return true;
    });
    if (ok)
        doc_ = fresh;
    return ok;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    return WriteStrings({{section, {key, value}}});
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool ReplaceFileAtomically(const std::string& fileName, const std::string& text)
{
    if (PathInfoOf(fileName).Folder)
        return false;
    std::random_device rd;
    const std::string temp = fileName + ".tmp" + std::to_string(OwnProcessId()) + "_" + std::to_string(rd());
    const int fd = OpenRegular(temp, TOpenAccess::Write, TOpenCreate::NewOnly, 0666);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text.data(), text.size());
    ok = SyncFile(fd) && ok;
    ok = CloseFile(fd) && ok;
    if (ok)
        ok = ReplaceFile(temp, fileName);
    if (!ok) {
        RemoveName(temp);
        return false;
    }
    // The rename itself reaches the disk too.
    const std::size_t slash = fileName.rfind('/');
    SyncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash));
    return true;
}
