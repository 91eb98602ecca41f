// SPDX-License-Identifier: GPL-3.0-or-later
// bench_download: times one download through TInet the way the download thread
// does it (Open, empty the file, DownloadToFile in 10240-byte chunks with a
// progress callback), or times another program, and reports throughput and
// peak memory.
//
//   bench_download URL OUTPUT_FILE
//   bench_download --run PROGRAM [ARGS...]     (no shell is involved)
//
// Output, one line: "<label> bytes=N seconds=S MiB/s=T maxrss_kib=M ok=0|1"

#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

extern char** environ;

namespace {

void Report(const char* label, long long bytes, double seconds, long maxRssKib, bool ok)
{
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("%s bytes=%lld seconds=%.3f MiB/s=%.1f maxrss_kib=%ld ok=%d\n", label, bytes, seconds,
                seconds > 0 ? mib / seconds : 0.0, maxRssKib, ok ? 1 : 0);
}

int RunOther(char** argv)
{
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        std::perror("posix_spawnp");
        return 1;
    }
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // The byte count is the caller's to check; report the program's own numbers.
    Report("other", -1, seconds, usage.ru_maxrss, ok);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--run")
        return RunOther(argv + 2);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL OUTPUT_FILE | --run PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    long long received = 0;
    TInet inet;
    inet.Url = argv[1];
    bool ok = inet.Open();
    if (ok) {
        inet.OnProgress = [&received](std::int32_t chunk, std::int64_t) {
            received += chunk;
            return true;
        };
        ok = CreateEmptyFile(argv[2]) && inet.DownloadToFile(argv[2], 0, 0, true);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    Report("tinet", received, seconds, usage.ru_maxrss, ok);
    return ok ? 0 : 1;
}
