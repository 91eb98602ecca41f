// SPDX-License-Identifier: GPL-3.0-or-later
// The page engine update's steps timed on loopback: a release server on
// 127.0.0.1 (downloads redirected to a second one), a signing key made for the
// run, a stand-in engine of ENGINE_MB megabytes and a deno zip of DENO_MB.
// Prints the median time of each step over ROUNDS fresh updates.
//
//   bench_engine_update [ROUNDS] [ENGINE_MB] [DENO_MB]
#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "engine/EngineUpdate.h"
#include "engine/EngineChoice.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {
using Clock = std::chrono::steady_clock;

std::string Sha256Hex(const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        out += hex;
    }
    return out;
}

int RunProgram(const std::string& program, const std::vector<std::string>& args)
{
    try {
        return static_cast<int>(RunCaptured(program, args, 1 << 20, [] { return false; }).ExitCode);
    } catch (const EConsoleError&) {
        return -1;
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Zip(const std::string& name, const std::string& content)
{
    std::string zip(content.size() + 64 * 1024, '\0');
    std::size_t used = 0;
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_memory(a, zip.data(), zip.size(), &used);
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.c_str());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0755);
    archive_entry_set_size(e, static_cast<la_int64_t>(content.size()));
    archive_write_header(a, e);
    archive_write_data(a, content.data(), content.size());
    archive_entry_free(e);
    archive_write_close(a);
    archive_write_free(a);
    zip.resize(used);
    return zip;
}

// A script that prints its version, padded with a comment to size bytes of
// incompressible-looking text.
std::string Padded(const std::string& script, std::size_t size)
{
    std::string out = script + "exit 0\n#";
    std::uint32_t x = 2463534242u;
    while (out.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out += static_cast<char>('A' + x % 26);
    }
    return out + "\n";
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::size_t engineMb = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 3;
    const std::size_t denoMb = argc > 3 ? static_cast<std::size_t>(std::atoi(argv[3])) : 40;

    TempDir home;
    ::chmod(home.Path().c_str(), 0700);
    ::setenv("GNUPGHOME", home.Path().c_str(), 1);
    const std::string gpg = FindExecutable("gpg");
    if (gpg.empty() || RunProgram(gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--quick-gen-key",
                                        "Bench <bench@example.invalid>", "ed25519", "sign", "never"}) != 0) {
        std::fprintf(stderr, "gpg is needed\n");
        return 1;
    }
    RunProgram(gpg, {"--batch", "--armor", "--output", home.File("key.asc"), "--export", "bench@example.invalid"});
    ::setenv("BRIMTALE_RELEASES_KEYRING", home.File("key.asc").c_str(), 1);

    const std::string tag = "2026.08.19";
    const std::string engine = Padded("#!/bin/sh\necho " + tag + "\n", engineMb << 20);
    const std::string sums = Sha256Hex(engine) + "  yt-dlp\n" + Sha256Hex(engine) + "  yt-dlp_linux\n" +
                             Sha256Hex(engine) + "  yt-dlp_linux_aarch64\n";
    home.Write("SHA2-256SUMS", sums);
    RunProgram(gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--detach-sign", "--output",
                     home.File("SHA2-256SUMS.sig"), home.File("SHA2-256SUMS")});
    const std::string denoZip = Zip("deno", Padded("#!/bin/sh\necho 'deno 2.5.1 (stable)'\n", denoMb << 20));

    testhttp::TestHttpServer files(std::chrono::seconds(3600));
    testhttp::TestHttpServer releases(std::chrono::seconds(3600));
    std::map<std::string, std::string> served = {
        {"SHA2-256SUMS", sums},
        {"SHA2-256SUMS.sig", ReadFile(home.File("SHA2-256SUMS.sig"))},
        {"yt-dlp", engine},
        {"yt-dlp_linux", engine},
        {"yt-dlp_linux_aarch64", engine},
        {"deno-x86_64-unknown-linux-gnu.zip", denoZip},
        {"deno-aarch64-unknown-linux-gnu.zip", denoZip},
        {"deno-x86_64-unknown-linux-gnu.zip.sha256sum", Sha256Hex(denoZip) + "  deno-x86_64-unknown-linux-gnu.zip\n"},
        {"deno-aarch64-unknown-linux-gnu.zip.sha256sum", Sha256Hex(denoZip) + "  deno-aarch64-unknown-linux-gnu.zip\n"},
    };
    files.Fallback([&](const testhttp::Request& r) {
        testhttp::Response response;
        const auto it = served.find(r.path.substr(r.path.rfind('/') + 1));
        if (it == served.end())
            response.status = 404;
        else
            response.body = it->second;
        return response;
    });
    releases.Fallback([&](const testhttp::Request& r) {
        testhttp::Response redirect;
        redirect.status = 302;
        if (r.path == "/yt-dlp/yt-dlp/releases/latest")
            redirect.headers.emplace_back("Location", releases.Url("/yt-dlp/yt-dlp/releases/tag/" + tag));
        else if (r.path == "/denoland/deno/releases/latest")
            redirect.headers.emplace_back("Location", releases.Url("/denoland/deno/releases/tag/v2.5.1"));
        else
            redirect.headers.emplace_back("Location", files.Url(r.path));
        return redirect;
    });
    ::setenv("BRIMTALE_RELEASES_URL", releases.Url("").c_str(), 1);
    ::setenv("PATH", "/usr/bin:/bin", 1);  // no runtime of the machine's: deno is fetched every round

    const char* const names[] = {"waiting", "look up release", "hash list", "signature (gpgv)", "download engine",
                                 "test run", "install", "deno (look up, download, hash, unpack, test run)"};
    std::map<int, std::vector<double>> times;
    std::vector<double> totals;
    for (int round = 0; round < rounds; ++round) {
        TempDir data;
        DataDir = data.Path();
        ForgetProgramVersions();
        TEngineUpdateOptions options;
        int current = -1;
        Clock::time_point since = Clock::now();
        const Clock::time_point start = since;
        std::map<int, double> spent;
        options.OnProgress = [&](TUpdateStep step, std::int64_t, std::int64_t) {
            const int s = static_cast<int>(step);
            if (s == current)
                return;
            const Clock::time_point now = Clock::now();
            if (current >= 0)
                spent[current] += std::chrono::duration<double, std::milli>(now - since).count();
            current = s;
            since = now;
        };
        const TEngineUpdateResult result = UpdateEngine(options);
        const Clock::time_point end = Clock::now();
        if (current >= 0)
            spent[current] += std::chrono::duration<double, std::milli>(end - since).count();
        if (result.Outcome != TUpdateOutcome::Updated || !result.RuntimeFetched) {
            std::fprintf(stderr, "round %d: %s\n", round, UpdateResultText(result, false).c_str());
            return 1;
        }
        for (const auto& [s, ms] : spent)
            times[s].push_back(ms);
        totals.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::printf("Engine update on loopback: engine %zu MiB, deno zip %zu MiB (%zu bytes), %d rounds, medians\n",
                engineMb, denoMb, denoZip.size(), rounds);
    for (const auto& [s, v] : times)
        std::printf("  %-50s %9.1f ms\n", names[s], Median(v));
    std::printf("  %-50s %9.1f ms\n", "whole update", Median(totals));
    if (const std::string gpgconf = FindExecutable("gpgconf"); !gpgconf.empty())
        RunProgram(gpgconf, {"--kill", "gpg-agent"});
    return 0;
}
