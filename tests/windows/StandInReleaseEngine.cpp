// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for a released yt-dlp.exe (and deno.exe) in the test of the
// engine's update:
// "--version" prints the text after the last "STAND-IN-VERSION=" near the end
// of its own file. The test makes each release's program by appending that
// line to a copy, so one build gives every version, each with its own hash.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], "--version") != 0)
        return 2;
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 3;
    FILE* file = ::_wfopen(self, L"rb");
    if (!file)
        return 3;
    char tail[256] = {};
    std::size_t got = 0;
    if (std::fseek(file, -static_cast<long>(sizeof tail), SEEK_END) == 0)
        got = std::fread(tail, 1, sizeof tail, file);
    std::fclose(file);
    const std::string text(tail, got);
    const std::string marker = "STAND-IN-VERSION=";
    const std::size_t at = text.rfind(marker);
    if (at == std::string::npos)
        return 4;
    std::string version = text.substr(at + marker.size());
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r'))
        version.pop_back();
    std::printf("%s\n", version.c_str());
    return 0;
}
