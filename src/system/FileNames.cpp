// SPDX-License-Identifier: GPL-3.0-or-later
// Text made into one harmless file name.
#include "system/FileNames.h"

#include "base/ZQ_Strings.h"
#include "base/ZQ_URL.h"
#include "system/Platform.h"
#include "system/ZQ_FileSystem.h"

#include <cstdint>
#include <string_view>

namespace {
// Windows-1250 bytes 0x80..0xFF as Unicode; "?" where the code page has no character.
constexpr std::uint16_t Cp1250High[128] = {
    0x20AC, 0x003F, 0x201A, 0x003F, 0x201E, 0x2026, 0x2020, 0x2021,
    0x003F, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x003F, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x003F, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The length of the UTF-8 sequence that starts with this byte (valid text).
std::size_t SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    return 4;
}

// Longest extension kept whole when a long name is cut.
constexpr std::size_t MaxKeptExtension = 16;
} // namespace

std::string Cp1250ToUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        AppendUtf8(out, b < 0x80 ? b : Cp1250High[b - 0x80]);
    }
    return out;
}

std::string EnsureUtf8(const std::string& text)
{
    return IsValidUtf8(text) ? text : Cp1250ToUtf8(text);
}

std::string DecodeUtf8Title(const std::string& rawTitle)
{
    std::string bytes;
    bytes.reserve(rawTitle.size());
    const std::size_t n = rawTitle.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = rawTitle[i];
        if (c == '%') {
            // The next two characters (one at the very end) are the byte's
            // hexadecimal value; they are skipped whether or not they are one.
            const std::string hex = rawTitle.substr(i + 1, 2);
            bool isHex = !hex.empty();
            for (char h : hex)
                isHex = isHex && IsHexDigit(h);
            if (isHex)
                bytes.push_back(static_cast<char>(HexToInt64(hex)));
            i += 1 + hex.size();
            continue;
        }
        bytes.push_back(c == '+' ? ' ' : c);
        ++i;
    }
    if (!IsValidUtf8(bytes))
        return {};
    return bytes;
}

std::string SanitizeTitle(const std::string& text)
{
    std::string s = EnsureUtf8(text);
    s = ReplaceAllText(s, "&amp;", "&");
    s = ReplaceAllText(s, "&quot;", "'");
    s = ReplaceAllText(s, "&nbsp;", "'");
    s = ReplaceAllText(s, "<b>", "");
    s = ReplaceAllText(s, "</b>", "");
    s = ReplaceAllText(s, "<i>", "");
    s = ReplaceAllText(s, "</i>", "");
    s = ReplaceAll(s, "\"", "'");
    s = ReplaceAll(s, ":", "-");
    s = ReplaceAll(s, "\\", "_");
    s = ReplaceAll(s, "*", "_");
    s = ReplaceAll(s, "?", "_");
    s = ReplaceAll(s, "/", "_");
    // The letter "š" (U+0161). In valid UTF-8 its two bytes are never part of
    // another letter.
    s = ReplaceAll(s, "\xC5\xA1", "s");
    s = ReplaceAll(s, "&#39;", "'");
    s = ReplaceAll(s, "&#039;", "'");
    return s;
}

std::string DropRepeatedExtension(const std::string& name)
{
    std::string s = name;
    for (const char* twice : {".avi.avi", ".flv.flv", ".mp4.mp4", ".mp3.mp3"}) {
        if (EndsWithText(s, twice))
            s.resize(s.rfind('.'));
    }
    return s;
}

std::string FinishFileName(const std::string& name)
{
    std::string s;
    s.reserve(name.size());
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 32)
            s.push_back(c);
    if (Trim(s).empty())
        s = "_";
    return ReplaceFirst(s, "YouTube-", "YouTube -");
}

namespace {
bool IsWindowsDeviceName(const std::string& name)
{
    // The part before the first dot, without the blanks before that dot.
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    const std::string upper = UpperAscii(base);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (upper == device)
            return true;
    return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) && upper[3] >= '1' &&
           upper[3] <= '9';
}
} // namespace

std::string WindowsSafeName(const std::string& name)
{
    std::string s;
    s.reserve(name.size() + 1);
    for (const char c : name) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            s.push_back('_');
        else
            s.push_back(c);
    }
    while (!s.empty() && (s.back() == '.' || s.back() == ' '))
        s.pop_back();
    if (s.empty())
        return "_";
    if (IsWindowsDeviceName(s))
        s.insert(s.begin(), '_');
    return s;
}

std::string SafeFileName(const std::string& name, std::size_t maxBytes)
{
    const std::string text = EnsureUtf8(name);
    std::string s;
    s.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t len = SequenceLength(c);
        if (len == 1) {
            if (c == '/')
                s.push_back('_');
            else if (c >= 32 && c != 0x7F)
                s.push_back(static_cast<char>(c));
        } else {
            // C1 control characters (U+0080..U+009F) are dropped like the others.
            const bool c1 = c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (!c1)
                s.append(text, i, len);
        }
        i += len;
    }
    // A leading dot would hide the file (and "." and ".." name directories).
    if (!s.empty() && s[0] == '.')
        s[0] = '_';
    if (Trim(s).empty())
        s = "_";
    if (maxBytes > 0 && s.size() > maxBytes) {
        std::string ext = ExtractFileExt(s);
        if (ext.size() > MaxKeptExtension || ext.size() >= maxBytes)
            ext.clear();
        std::string stem = Utf8Cut(s.substr(0, s.size() - ext.size()), maxBytes - ext.size());
        if (stem.empty())
            stem = "_";
        s = Utf8Cut(stem + ext, maxBytes);
    }
    if (OnWindows) {
        // Kept within maxBytes: a device's name is short, and dropping dots
        // and blanks only shortens.
        s = WindowsSafeName(s);
        if (maxBytes > 0 && s.size() > maxBytes)
            s = WindowsSafeName(Utf8Cut(s, maxBytes));
    }
    return s;
}
