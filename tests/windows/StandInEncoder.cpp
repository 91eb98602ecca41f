// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for ffmpeg.exe in the Windows tests: it answers as the encoder
// does, without encoding anything. Asked "-i FILE" alone it prints the input's
// description (the probe); asked for a conversion it prints a progress line,
// writes the output file (the last argument: "converted " and the input's
// bytes), and keeps every argument it got, one a line in UTF-8, in
// "encoder-args.txt" beside itself, so a test sees what reached it.
#include "StandInFiles.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace standin;

int main()
{
    const std::vector<std::wstring> args = Arguments();
    const std::wstring folder = OwnFolder();
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
