// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the page engine (yt-dlp.exe) in the Windows tests. It answers
// "--version" with the text of "engine-version.txt" beside itself (or a
// version of its own), "-J" with the page information in "engine-page.json"
// beside itself; any other run is a download: it keeps its arguments, one a
// line in UTF-8, in "engine-args.txt" beside itself, writes the bytes of
// "engine-media.bin" as "media.mp4" in the folder it was started in, and
// prints the progress lines the program asked for.
#include "StandInFiles.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace standin;

int main()
{
    const std::vector<std::wstring> args = Arguments();
    const std::wstring folder = OwnFolder();
    for (const std::wstring& arg : args) {
        if (arg == L"--version") {
            std::string version;
            if (!ReadAll(folder + L"engine-version.txt", version))
                version = "2099.01.01\n";
            std::fputs(version.c_str(), stdout);
            return 0;
        }
        if (arg == L"-J") {
            std::string page;
            if (!ReadAll(folder + L"engine-page.json", page)) {
                std::fputs("ERROR: Unsupported URL\n", stderr);
                return 1;
            }
            std::fwrite(page.data(), 1, page.size(), stdout);
            return 0;
        }
    }
    std::string kept;
    for (const std::wstring& arg : args)
        kept += Utf8(arg) + "\n";
    WriteAll(folder + L"engine-args.txt", kept, false);

    std::string media;
    if (!ReadAll(folder + L"engine-media.bin", media)) {
        std::fputs("ERROR: no media for the stand-in\n", stderr);
        return 1;
    }
    const std::string total = std::to_string(media.size());
    std::printf("[brimtale] downloading 0 %s NA 18\n", total.c_str());
    std::fflush(stdout);
    if (!WriteAll(L"media.mp4", media, true)) {
        std::fputs("ERROR: unable to write media.mp4\n", stderr);
        return 1;
    }
    std::printf("[brimtale] finished %s %s NA 18\n", total.c_str(), total.c_str());
    return 0;
}
