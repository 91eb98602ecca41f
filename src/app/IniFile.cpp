#include "app/IniFile.h"

#include "net/ZQ_Conversion.h"
#include "net/ZQ_Strings.h"

#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

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

bool ReadWholeFile(const std::string& fileName, std::string& text, std::size_t maxBytes)
{
    text.clear();
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    char buffer[16384];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            ::close(fd);
            text.clear();
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > maxBytes) {
            ::close(fd);
            text.clear();
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool WriteFileAtomically(const std::string& fileName, const std::string& text)
{
    std::random_device rd;
    const std::string temp = fileName + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(rd());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // Keep the permissions of the file being replaced.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0)
        ::fchmod(fd, st.st_mode & 07777);
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::access(fileName.c_str(), F_OK) == 0 && ::access(fileName.c_str(), W_OK) != 0)
        ok = false; // a read-only file stays as it is
    if (ok)
        ok = ::rename(temp.c_str(), fileName.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName))
{
    std::string text;
    if (ReadWholeFile(fileName_, text, MaxFileSize))
        doc_.Parse(text);
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
    // Start from what is on disk now, so that keys another process wrote stay.
    std::string text;
    TIniDocument fresh;
    if (ReadWholeFile(fileName_, text, MaxFileSize)) {
        fresh.Parse(text);
    } else if (::access(fileName_.c_str(), F_OK) == 0) {
        return false; // there, but unreadable or too large: leave it alone
    }
    for (const auto& [section, kv] : entries)
        fresh.WriteString(section, kv.first, kv.second);
    if (!WriteFileAtomically(fileName_, fresh.Text()))
        return false;
    doc_ = fresh;
    return true;
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
