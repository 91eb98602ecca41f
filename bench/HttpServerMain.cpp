// SPDX-License-Identifier: GPL-3.0-or-later
// bench_http_server: serves a generated body of N bytes at /big on 127.0.0.1
// until it is killed (SIGINT/SIGTERM) or its time limit passes. Prints the port
// on the first line of its output so that a script can pick it up.
//
//   bench_http_server SIZE_BYTES [SECONDS [PACE_MS]]
//
// PACE_MS: a pause after every 64 KiB of the body (a slower line).

#include "support/TestHttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SIZE_BYTES [SECONDS]\n", argv[0]);
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[1], nullptr, 10);
    const long seconds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 600;
    const int paceMs = argc > 3 ? std::atoi(argv[3]) : 0;
    if (size == 0 || seconds <= 0) {
        std::fprintf(stderr, "size and seconds must be positive\n");
        return 2;
    }

    // Block the stop signals before any thread starts, then wait for them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    testhttp::TestHttpServer server{std::chrono::seconds(seconds)};
    server.Handle("/big", [size, paceMs](const testhttp::Request&) {
        testhttp::Response r;
        r.paceMs = paceMs;
        r.headers.emplace_back("Content-Type", "application/octet-stream");
        r.generatedSize = size;
        return r;
    });
    std::printf("%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    timespec limit{seconds, 0};
    sigtimedwait(&stop, nullptr, &limit);
    return 0;
}
