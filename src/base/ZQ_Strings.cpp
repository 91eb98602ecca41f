// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ZQ_Strings.h"

#include "base/MemoryStream.h"

#include <fstream>
#include <stdexcept>

namespace {
bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}
char LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

std::string TrimLeft(const std::string& s)
{
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b]))
        ++b;
    return s.substr(b);
}

std::string TrimRight(const std::string& s)
{
    std::size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1]))
        --e;
    return s.substr(0, e);
}

std::string Trim(const std::string& s)
{
    return TrimLeft(TrimRight(s));
}

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        c = LowerChar(c);
    return s;
}

std::string UpperAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool SameTextAscii(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

bool StartsWithText(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
}

bool EndsWithText(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && SameTextAscii(s.substr(s.size() - suffix.size()), suffix);
}

std::size_t Pos(const std::string& sub, const std::string& s)
{
    if (sub.empty())
        return 0;
    const std::size_t p = s.find(sub);
    return p == std::string::npos ? 0 : p + 1;
}

std::size_t PosText(const std::string& sub, const std::string& s)
{
    return Pos(LowerAscii(sub), LowerAscii(s));
}

namespace {
std::string ReplaceImpl(const std::string& s, const std::string& find, const std::string& with,
                        bool all, bool ignoreCase)
{
    if (find.empty())
        return s;
    const std::string hay = ignoreCase ? LowerAscii(s) : s;
    const std::string needle = ignoreCase ? LowerAscii(find) : find;
    std::string out;
    std::size_t from = 0;
    while (true) {
        const std::size_t p = hay.find(needle, from);
        if (p == std::string::npos)
            break;
        out.append(s, from, p - from);
        out.append(with);
        from = p + find.size();
        if (!all)
            break;
    }
    out.append(s, from, std::string::npos);
    return out;
}
} // namespace

std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& with)
{
    return ReplaceImpl(s, find, with, true, false);
}

std::string ReplaceFirst(const std::string& s, const std::string& find, const std::string& with)
{
    return ReplaceImpl(s, find, with, false, false);
}

std::string ReplaceAllText(const std::string& s, const std::string& find, const std::string& with)
{
    return ReplaceImpl(s, find, with, true, true);
}

std::string ReplaceFirstText(const std::string& s, const std::string& find, const std::string& with)
{
    return ReplaceImpl(s, find, with, false, true);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        std::size_t j = i;
        while (j < n && text[j] != '\r' && text[j] != '\n')
            ++j;
        lines.push_back(text.substr(i, j - i));
        if (j < n && text[j] == '\r') {
            ++j;
            if (j < n && text[j] == '\n')
                ++j;
        } else if (j < n) {
            ++j;
        }
        i = j;
    }
    return lines;
}

std::string Utf8Cut(const std::string& s, std::size_t maxBytes)
{
    if (s.size() <= maxBytes)
        return s;
    std::size_t end = maxBytes;
    // Step back over continuation bytes to the start of the cut sequence.
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
        --end;
    return s.substr(0, end);
}

bool IsValidUtf8(const std::string& s)
{
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string StreamToString(TMemoryStream* stream, std::int64_t maxBytes)
{
    if (!stream)
        return {};
    const std::int64_t saved = stream->Position();
    stream->Seek(0);
    std::string text;
    std::int64_t count = stream->Size();
    if (maxBytes > 0 && maxBytes < count)
        count = maxBytes;
    text.resize(static_cast<std::size_t>(count));
    const std::size_t got = stream->Read(text.data(), text.size());
    text.resize(got);
    stream->Seek(saved);
    return text;
}

std::size_t LastCharPos(const std::string& s, char c)
{
    const std::size_t p = s.rfind(c);
    return p == std::string::npos ? 0 : p + 1;
}

std::string PadLeft(const std::string& s, std::size_t width, char fill)
{
    if (s.size() >= width)
        return s;
    return std::string(width - s.size(), fill) + s;
}

void SaveTextToFile(const std::string& text, const std::string& fileName)
{
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Cannot create file \"" + fileName + "\"");
    for (const std::string& line : SplitLines(text))
        out << line << "\r\n";
    out.flush();
    if (!out)
        throw std::runtime_error("Cannot write file \"" + fileName + "\"");
}

namespace {
// The code point of a two-byte C1 control (U+0080..U+009F) at i, else -1.
int C1At(const std::string& s, std::size_t i)
{
    if (i + 1 < s.size() && static_cast<unsigned char>(s[i]) == 0xC2) {
        const unsigned char next = static_cast<unsigned char>(s[i + 1]);
        if (next >= 0x80 && next <= 0x9F)
            return next;
    }
    return -1;
}

// Skips a control string (OSC, DCS, PM, APC, SOS) from i: up to BEL, ESC \ or
// ST (U+009C), all included. Returns the position after it.
std::size_t SkipControlString(const std::string& s, std::size_t i)
{
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == 0x07)
            return i + 1;
        if (c == 0x1B)
            return i + 1 < s.size() && s[i + 1] == '\\' ? i + 2 : i + 1;
        if (C1At(s, i) == 0x9C)
            return i + 2;
        ++i;
    }
    return i;
}

// Skips the rest of a CSI sequence from i (after "ESC [" or U+009B).
std::size_t SkipCsi(const std::string& s, std::size_t i)
{
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x40 && c <= 0x7E)
            return i + 1;  // the final byte
        if (c < 0x20 || c > 0x3F)
            return i;  // broken off: what follows is text again
        ++i;
    }
    return i;
}
} // namespace

std::string PrintableText(const std::string& text, bool keepLineBreaks)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0x1B) {
            const char kind = i + 1 < text.size() ? text[i + 1] : '\0';
            if (kind == '[')
                i = SkipCsi(text, i + 2);
            else if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_')
                i = SkipControlString(text, i + 2);
            else if (kind >= 0x20 && kind <= 0x7E)
                i += 2;  // a two-byte sequence
            else
                i += 1;
            continue;
        }
        if (const int c1 = C1At(text, i); c1 >= 0) {
            if (c1 == 0x9B)
                i = SkipCsi(text, i + 2);
            else if (c1 == 0x9D || c1 == 0x90 || c1 == 0x98 || c1 == 0x9E || c1 == 0x9F)
                i = SkipControlString(text, i + 2);
            else
                i += 2;
            continue;
        }
        if (c == '\n')
            out.push_back(keepLineBreaks ? '\n' : ' ');
        else if (c == '\t')
            out.push_back(' ');
        else if (c >= 0x20 && c != 0x7F)
            out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
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

std::optional<std::int64_t> DecimalDigits(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::vector<std::string> SplitAtEach(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = line.find(separator, start);
        fields.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return fields;
        start = at + 1;
    }
}
