// SPDX-License-Identifier: GPL-3.0-or-later
// bench_far_server: a far, throttled server on 127.0.0.1 (bench/far.sh). Every
// request waits DELAY_MS before it is answered (a round trip of a far link), and
// every connection gets its body at one 64 KiB block per PACE_MS (a server that
// limits each connection). Serves /big.mp4, SIZE_BYTES of a generated body
// sent as video/mp4,
// and /hls/NAME, the files of HLS_DIR. Prints the port on the first line, and
// runs until it is killed (SIGINT/SIGTERM) or SECONDS pass.
//
//   bench_far_server SIZE_BYTES HLS_DIR SECONDS DELAY_MS PACE_MS

#include "support/TestHttpServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace {
std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s SIZE_BYTES HLS_DIR SECONDS DELAY_MS PACE_MS\n", argv[0]);
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[1], nullptr, 10);
    const std::string hls = argv[2];
    const long seconds = std::strtol(argv[3], nullptr, 10);
    const int delayMs = std::atoi(argv[4]);
    const int paceMs = std::atoi(argv[5]);
    if (size < 64 || seconds <= 0) {
        std::fprintf(stderr, "size and seconds must be positive\n");
        return 2;
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    testhttp::TestHttpServer server{std::chrono::seconds(seconds)};
    // The generated pattern, made as it is sent; its type says it is a video.
    server.Handle("/big.mp4", [size, delayMs, paceMs](const testhttp::Request&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        testhttp::Response r;
        r.paceMs = paceMs;
        r.headers.emplace_back("Content-Type", "video/mp4");
        r.headers.emplace_back("Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT");
        r.generatedSize = size;
        return r;
    });
    server.Fallback([hls, delayMs, paceMs](const testhttp::Request& q) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        testhttp::Response r;
        const std::string prefix = "/hls/";
        const std::string name = q.path.rfind(prefix, 0) == 0 ? q.path.substr(prefix.size()) : std::string();
        if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') {
            r.status = 404;
            r.body = "not here";
            return r;
        }
        r.body = ReadFile(hls + "/" + name);
        if (r.body.empty()) {
            r.status = 404;
            r.body = "not here";
            return r;
        }
        r.paceMs = paceMs;
        const bool list = name.size() > 5 && name.substr(name.size() - 5) == ".m3u8";
        r.headers.emplace_back("Content-Type", list ? "application/vnd.apple.mpegurl" : "video/mp2t");
        return r;
    });
    std::printf("%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    timespec limit{seconds, 0};
    sigtimedwait(&stop, nullptr, &limit);
    return 0;
}
