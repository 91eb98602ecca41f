// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for ffmpeg.exe in the Windows tests: it answers as the encoder
// does, without encoding anything. Asked "-i FILE" alone it prints the input's
// description (the probe); asked for a conversion it prints a progress line,
// writes the output file (the last argument: "converted " and the input's
// bytes), and keeps every argument it got, one a line in UTF-8, in
// "encoder-args.txt" beside itself, so a test sees what reached it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool ReadAll(const std::wstring& path, std::string& bytes)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(h);
    return true;
}

bool WriteAll(const std::wstring& path, const std::string& bytes, bool mustBeNew)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, mustBeNew ? CREATE_NEW : CREATE_ALWAYS, 0,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD wrote = 0;
    const bool ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                    wrote == bytes.size();
    ::CloseHandle(h);
    return ok;
}
} // namespace

int main()
{
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv || count < 1)
        return 2;
    std::vector<std::wstring> args(argv + 1, argv + count);
    ::LocalFree(argv);

    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    const std::wstring folder = self.substr(0, self.find_last_of(L"\\/") + 1);
    std::string kept;
    for (const std::wstring& arg : args)
        kept += Utf8(arg) + "\n";
    WriteAll(folder + L"encoder-args.txt", kept, false);

    std::wstring input;
    bool noOverwrite = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"-i" && i + 1 < args.size())
            input = args[i + 1];
        if (args[i] == L"-n")
            noOverwrite = true;
    }
    if (args.size() == 1 && args[0] == L"-version") {
        std::printf("ffmpeg version 6.0-stand-in Copyright (c) 2000-2023 the FFmpeg developers\n");
        return 0;
    }
    std::string bytes;
    if (input.empty() || !ReadAll(input, bytes)) {
        std::fprintf(stderr, "%s: No such file or directory\n", Utf8(input).c_str());
        return 1;
    }
    std::fprintf(stderr, "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from '%s':\n", Utf8(input).c_str());
    std::fprintf(stderr, "  Duration: 00:00:02.00, start: 0.000000, bitrate: 512 kb/s\n");
    std::fprintf(stderr, "  Stream #0:0(und): Video: h264 (High) (avc1 / 0x31637661), yuv420p(progressive), "
                         "320x240 [SAR 1:1 DAR 4:3], 400 kb/s, 25 fps, 25 tbr, 12800 tbn (default)\n");
    std::fprintf(stderr, "  Stream #0:1(und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, stereo, fltp, "
                         "128 kb/s (default)\n");
    if (args.size() == 2) {
        std::fprintf(stderr, "At least one output file must be specified\n");
        return 1;
    }
    const std::wstring output = args.back();
    std::fprintf(stderr, "Output #0, mp4, to '%s':\n", Utf8(output).c_str());
    std::fprintf(stderr, "frame=   25 fps=0.0 q=28.0 size=      48kB time=00:00:01.00 bitrate= 393.2kbits/s "
                         "speed=9.9x\r");
    std::fflush(stderr);
    if (!WriteAll(output, "converted " + bytes, noOverwrite)) {
        std::fprintf(stderr, "File '%s' already exists. Exiting.\n", Utf8(output).c_str());
        return 1;
    }
    std::fprintf(stderr, "frame=   50 fps=0.0 q=-1.0 Lsize=      98kB time=00:00:02.00 bitrate= 401.4kbits/s "
                         "speed=10.1x\n");
    return 0;
}
