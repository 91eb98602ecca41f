// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping the page engine current, against a release server of the test's own
// on 127.0.0.1 (its downloads redirect to a second server) and a signing key
// the test makes with gpg. The engines are stand-in scripts that print their
// version and record the arguments of every other run.
#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "engine/EngineUpdate.h"
#include "engine/EngineChoice.h"
#include "engine/PageEngine.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace {
using testhttp::Request;
using testhttp::Response;

std::string Sha256Hex(const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
    std::string out;
    static const char* const hex = "0123456789abcdef";
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A stand-in engine: prints its version, or records its arguments (one a line)
// in recordFile and answers a look-up with a page holding one media file.
std::string StandInEngine(const std::string& version, const std::string& recordFile, int versionExit = 0)
{
    return "#!/bin/sh\n"
           "if [ \"$1\" = --version ]; then echo " + version + "; exit " + std::to_string(versionExit) + "; fi\n"
           "printf '%s\\n' \"$@\" > '" + recordFile + "'\n"
           "echo '{\"title\": \"Clip\", \"ext\": \"mp4\", \"url\": \"http://127.0.0.1:1/clip.mp4\"}'\n";
}

std::string ZipWith(const std::string& name, const std::string& content)
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

// Runs a program with its output; the exit code, or -1 when it could not start.
int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out = nullptr)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    try {
        const TCapturedRun run = RunCaptured(program, args, 1 << 20, [giveUp] {
            return std::chrono::steady_clock::now() >= giveUp;
        });
        if (out)
            *out = run.Out + run.Err;
        return static_cast<int>(run.ExitCode);
    } catch (const EConsoleError&) {
        return -1;
    }
}

// Two signing keys made for the tests, in a private GnuPG home: the trusted
// one, and another.
struct TTestKeys {
    std::unique_ptr<TempDir> Home;
    std::string Gpg;
    std::string TrustedKeyFile;
    bool Ready = false;
    std::string Why;

    TTestKeys()
    {
        Gpg = FindExecutable("gpg");
        if (Gpg.empty() || FindExecutable("gpgv").empty()) {
            Why = "gpg or gpgv is not installed";
            return;
        }
        Home = std::make_unique<TempDir>();
        ::chmod(Home->Path().c_str(), 0700);
        ::setenv("GNUPGHOME", Home->Path().c_str(), 1);
        for (const char* uid : {"Trusted Test <trusted@example.invalid>", "Other Test <other@example.invalid>"}) {
            std::string out;
            if (RunProgram(Gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--quick-gen-key", uid,
                          "ed25519", "sign", "never"},
                    &out) != 0) {
                Why = "gpg could not make a key: " + out;
                return;
            }
        }
        std::string armored;
        if (RunProgram(Gpg, {"--batch", "--armor", "--export", "trusted@example.invalid"}, &armored) != 0) {
            Why = "gpg could not export the key";
            return;
        }
        TrustedKeyFile = Home->Write("trusted.asc", armored.substr(armored.find("-----BEGIN")));
        Ready = true;
    }
    ~TTestKeys()
    {
        if (const std::string gpgconf = FindExecutable("gpgconf"); !gpgconf.empty() && Home)
            RunProgram(gpgconf, {"--kill", "gpg-agent"});
    }

    std::string Sign(const std::string& data, const std::string& who) const
    {
        const std::string in = Home->Write("data", data);
        const std::string sig = Home->File("data.sig");
        std::filesystem::remove(sig);
        RunProgram(Gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--local-user", who, "--detach-sign",
                  "--output", sig, in});
        return ReadFile(sig);
    }
};

TTestKeys* Keys = nullptr;

// How a release is served.
struct TRelease {
    std::string Tag;
    std::string Engine;           // the engine file's bytes
    std::string SignedBy = "trusted@example.invalid";
    bool BadSignature = false;    // the signature's bytes are damaged
    bool ChangedFile = false;     // the file served differs from the one hashed
    std::int64_t DropAfter = -1;  // the transfer is cut after so many bytes
    std::int64_t StallAfter = -1; // the server stops sending after so many bytes
    int SumsTrickleMs = 0;        // the hash list comes a byte at a time, so far apart
    int SignatureTrickleMs = 0;   // and so does its signature
};

class EngineUpdate : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!Keys)
            Keys = new TTestKeys();
    }
    static void TearDownTestSuite()
    {
        delete Keys;
        Keys = nullptr;
    }

    void SetUp() override
    {
        if (!Keys->Ready)
            GTEST_SKIP() << Keys->Why;
        savedDataDir_ = DataDir;
        savedAppDir_ = AppDir;
        savedOverride_ = PageEngineOverride;
        DataDir = data_.Path();
        AppDir.clear();
        PageEngineOverride.reset();
        ::setenv("BRIMTALE_RELEASES_URL", releases_.Url("").c_str(), 1);
        ::setenv("BRIMTALE_RELEASES_KEYRING", Keys->TrustedKeyFile.c_str(), 1);
        ForgetProgramVersions();
        ForgetPageLookUps();
        // A JavaScript runtime on PATH would keep deno from being fetched: PATH
        // holds the system folders without node, and a folder of the test's.
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::mkdir(data_.File("bin").c_str(), 0755);
        ::setenv("PATH", (data_.File("bin") + ":/usr/bin:/bin").c_str(), 1);

        ServeDeno("v2.5.1", "#!/bin/sh\necho 'deno 2.5.1 (stable, release, x86_64-unknown-linux-gnu)'\n");
        files_.Fallback([this](const Request& r) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (const auto it = served_.find(r.path); it != served_.end())
                return it->second;
            Response none;
            none.status = 404;
            return none;
        });
        releases_.Fallback([this](const Request& r) {
            Response redirect;
            redirect.status = 302;
            const std::lock_guard<std::mutex> lock(mutex_);
            if (r.path == "/yt-dlp/yt-dlp/releases/latest" || r.path == "/yt-dlp/yt-dlp-nightly-builds/releases/latest")
                redirect.headers.emplace_back("Location", releases_.Url(r.path.substr(0, r.path.size() - 6) + "tag/" +
                                                                        (r.path.find("nightly") != std::string::npos ? nightlyTag_ : tag_)));
            else if (r.path == "/denoland/deno/releases/latest")
                redirect.headers.emplace_back("Location", releases_.Url("/denoland/deno/releases/tag/" + denoTag_));
            else if (r.path.find("/releases/download/") != std::string::npos)
                redirect.headers.emplace_back("Location", files_.Url("/files" + r.path));
            else
                redirect.status = 404;
            return redirect;
        });
    }

    void TearDown() override
    {
        if (!Keys->Ready)
            return;
        DataDir = savedDataDir_;
        AppDir = savedAppDir_;
        PageEngineOverride = savedOverride_;
        ::setenv("PATH", savedPath_.c_str(), 1);
        ::unsetenv("BRIMTALE_RELEASES_URL");
        ::unsetenv("BRIMTALE_RELEASES_KEYRING");
        ForgetProgramVersions();
        ForgetPageLookUps();
    }

    std::string EngineDir() const { return data_.File("engine"); }
    std::string Record(const std::string& version) const { return data_.File("args-" + version); }

    // The engine the user has now: an own copy of that version.
    void InstallOwnEngine(const std::string& version)
    {
        ::mkdir(EngineDir().c_str(), 0700);
        const std::string path = EngineDir() + "/yt-dlp";
        std::ofstream(path) << StandInEngine(version, Record(version));
        ::chmod(path.c_str(), 0755);
    }

    void Publish(const TRelease& release, bool nightly = false)
    {
        const std::string repo = nightly ? "yt-dlp/yt-dlp-nightly-builds" : "yt-dlp/yt-dlp";
        const std::string base = "/files/" + repo + "/releases/download/" + release.Tag + "/";
        std::string sums = Sha256Hex("something else") + "  yt-dlp.exe\n";
        for (const char* name : {"yt-dlp", "yt-dlp_linux", "yt-dlp_linux_aarch64"})
            sums += Sha256Hex(release.Engine) + "  " + name + "\n";
        std::string signature = Keys->Sign(sums, release.SignedBy);
        ASSERT_FALSE(signature.empty());
        if (release.BadSignature)
            signature[signature.size() - 8] = static_cast<char>(signature[signature.size() - 8] ^ 0x55);
        Response file;
        file.body = release.ChangedFile ? release.Engine + "\n# changed\n" : release.Engine;
        file.dropAfter = release.DropAfter;
        file.stallAfter = release.StallAfter;
        const std::lock_guard<std::mutex> lock(mutex_);
        (nightly ? nightlyTag_ : tag_) = release.Tag;
        served_[base + "SHA2-256SUMS"].body = sums;
        served_[base + "SHA2-256SUMS"].trickleMs = release.SumsTrickleMs;
        served_[base + "SHA2-256SUMS.sig"].body = signature;
        served_[base + "SHA2-256SUMS.sig"].trickleMs = release.SignatureTrickleMs;
        for (const char* name : {"yt-dlp", "yt-dlp_linux", "yt-dlp_linux_aarch64"})
            served_[base + name] = file;
    }

    void ServeDeno(const std::string& tag, const std::string& program)
    {
        const std::string name = "deno-x86_64-unknown-linux-gnu.zip";
        const std::string zip = ZipWith("deno", program);
        const std::string base = "/files/denoland/deno/releases/download/" + tag + "/";
        const std::lock_guard<std::mutex> lock(mutex_);
        denoTag_ = tag;
        served_[base + name].body = zip;
        served_[base + "deno-aarch64-unknown-linux-gnu.zip"].body = zip;
        served_[base + name + ".sha256sum"].body = Sha256Hex(zip) + "  " + name + "\n";
        served_[base + "deno-aarch64-unknown-linux-gnu.zip.sha256sum"].body = Sha256Hex(zip) + "  " + name + "\n";
    }

    // The engine a look-up uses, and what it was given.
    std::vector<std::string> LookUpArgs(const std::string& version)
    {
        std::filesystem::remove(Record(version));
        ForgetPageLookUps();
        const TPageInfo info = LookUpPage("http://127.0.0.1:1/page");
        EXPECT_TRUE(info.Found) << info.Error;
        std::vector<std::string> args;
        std::istringstream lines(ReadFile(Record(version)));
        for (std::string line; std::getline(lines, line);)
            args.push_back(line);
        return args;
    }

    // engine/ holds nothing but what belongs there.
    void ExpectTidyEngineDir()
    {
        for (const auto& entry : std::filesystem::directory_iterator(EngineDir())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "yt-dlp" || name == "yt-dlp.previous" || name == "yt-dlp.before" ||
                        name == "yt-dlp.undone" || name == "deno" || name == ".lock")
                << "left in engine/: " << name;
        }
    }

    // A failed update: the old engine stays in use, and one line says why.
    void ExpectOldEngineKept(const TEngineUpdateResult& result, TUpdateOutcome outcome, TUpdateFailure failure,
                             const std::string& old)
    {
        EXPECT_EQ(result.Outcome, outcome);
        if (outcome == TUpdateOutcome::Failed) {
            EXPECT_EQ(result.Failure, failure) << UpdateResultText(result, false);
        }
        const std::string text = UpdateResultText(result, false);
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        EXPECT_FALSE(text.empty());
        ForgetProgramVersions();
        EXPECT_EQ(ChooseEngine().Version, old);
        EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), StandInEngine(old, Record(old)));
        EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp.previous"));
        EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp.before"));
        ExpectTidyEngineDir();
    }

    // A stand-in engine of that version at path (one on PATH: data_/bin/yt-dlp).
    std::string WriteEngine(const std::string& path, const std::string& version)
    {
        std::ofstream(path) << StandInEngine(version, Record(version));
        ::chmod(path.c_str(), 0755);
        return path;
    }

    TempDir data_;
    std::mutex mutex_;
    std::map<std::string, Response> served_;
    std::string tag_ = "2026.08.19";
    std::string nightlyTag_ = "2026.08.19.123456";
    std::string denoTag_;
    // The servers go first: their handlers use what is above.
    testhttp::TestHttpServer releases_;
    testhttp::TestHttpServer files_;
    std::string savedDataDir_, savedAppDir_, savedPath_;
    std::optional<std::string> savedOverride_;
};
} // namespace

TEST(EngineVersions, ReadComparedAndAged)
{
    ASSERT_TRUE(ParseEngineVersion("2023.03.04"));
    EXPECT_TRUE(*ParseEngineVersion("2025.11.12") >= JsRuntimesSince);
    EXPECT_TRUE(*ParseEngineVersion("2025.11.11.235959") < JsRuntimesSince);
    EXPECT_TRUE(*ParseEngineVersion("2026.01.02.1") > *ParseEngineVersion("2026.01.02"));
    for (const char* bad : {"", "2023", "2023.13.01", "v2023.03.04", "2023.03.04.x", "2023.03.04 extra", "deno 2.3.1"})
        EXPECT_FALSE(ParseEngineVersion(bad)) << bad;
    // 2023.03.04 to 2023.06.02 is 90 days.
    const std::time_t june2 = 1685664000;  // 2023-06-02 00:00 UTC
    EXPECT_EQ(EngineAgeDays("2023.03.04", june2), 90);
    EXPECT_EQ(EngineAgeDays("nonsense", june2), -1);

    TEngineChoice old{"/x/yt-dlp", "2023.03.04", "path", {"deno", "/x/deno", "2.5.1"}};
    EXPECT_EQ(EngineBaseArgs(old), std::vector<std::string>{"--no-update"});
    TEngineChoice fresh = old;
    fresh.Version = "2025.11.12";
    EXPECT_EQ(EngineBaseArgs(fresh), (std::vector<std::string>{"--no-update", "--js-runtimes", "deno:/x/deno"}));
    fresh.Runtime = {};
    EXPECT_EQ(EngineBaseArgs(fresh), std::vector<std::string>{"--no-update"});
}

TEST(EngineReleaseTexts, TagsHashListsAndKeys)
{
    EXPECT_EQ(TagFromReleaseAddress("https://github.com/yt-dlp/yt-dlp/releases/tag/2026.08.19"), "2026.08.19");
    EXPECT_EQ(TagFromReleaseAddress("/denoland/deno/releases/tag/v2.5.1?x=1"), "v2.5.1");
    EXPECT_EQ(TagFromReleaseAddress("https://github.com/yt-dlp/yt-dlp/releases"), "");
    EXPECT_EQ(TagFromReleaseAddress("https://h/releases/tag/a;rm"), "");
    const std::string h(64, 'a');
    const std::string sums = std::string(64, 'b') + "  yt-dlp.exe\n" + h + "  yt-dlp\n" + std::string(64, 'C') + " *yt-dlp_linux\n";
    EXPECT_EQ(ListedHash(sums, "yt-dlp"), h);
    EXPECT_EQ(ListedHash(sums, "yt-dlp_linux"), std::string(64, 'c'));
    EXPECT_EQ(ListedHash(sums, "yt-dlp_linux_aarch64"), "");
    EXPECT_EQ(ListedHash("zz  yt-dlp\n", "yt-dlp"), "");
    EXPECT_EQ(Dearmor("-----BEGIN PGP PUBLIC KEY BLOCK-----\nComment: x\n\nAAEC\n=abcd\n-----END PGP PUBLIC KEY BLOCK-----\n"),
              std::string("\x00\x01\x02", 3));
    EXPECT_EQ(Dearmor("-----BEGIN PGP PUBLIC KEY BLOCK-----\n\nA*B\n-----END PGP PUBLIC KEY BLOCK-----\n"), "");
}

TEST(EngineUpdateFetches, AnUpdateFromHttpsStaysOnHttps)
{
    const TUpdateFetch all[] = {TUpdateFetch::Latest,  TUpdateFetch::Sums,       TUpdateFetch::Signature,
                                TUpdateFetch::Program, TUpdateFetch::RuntimeSum, TUpdateFetch::RuntimeZip};
    for (const TUpdateFetch what : all) {
        EXPECT_TRUE(UpdateFetchLimits(what, "https://github.com", {}).RedirectsHttpsOnly) << static_cast<int>(what);
        EXPECT_TRUE(UpdateFetchLimits(what, "HTTPS://mirror.example/x", {}).RedirectsHttpsOnly) << static_cast<int>(what);
        // A plain-http base (a local mirror, the tests) may redirect to either.
        EXPECT_FALSE(UpdateFetchLimits(what, "http://127.0.0.1:8080", {}).RedirectsHttpsOnly) << static_cast<int>(what);
    }
    // The lists have a minute (the program has longer).
    for (const TUpdateFetch what : {TUpdateFetch::Sums, TUpdateFetch::Signature, TUpdateFetch::RuntimeSum})
        EXPECT_EQ(UpdateFetchLimits(what, "https://github.com", {}).TotalSeconds, 60) << static_cast<int>(what);
    EXPECT_GT(UpdateFetchLimits(TUpdateFetch::Program, "https://github.com", {}).TotalSeconds, 60);

    // Addresses built from the base or named by the server: https from an https base.
    EXPECT_TRUE(UpdateMayUse("https://github.com", "https://github.com/yt-dlp/yt-dlp/releases/tag/2026.08.19"));
    EXPECT_FALSE(UpdateMayUse("https://github.com", "http://github.com/yt-dlp/yt-dlp/releases/tag/2026.08.19"));
    EXPECT_FALSE(UpdateMayUse("https://github.com", "/yt-dlp/yt-dlp/releases/tag/2026.08.19"));
    EXPECT_FALSE(UpdateMayUse("https://github.com", ""));
    EXPECT_TRUE(UpdateMayUse("http://127.0.0.1:8080", "http://127.0.0.1:8080/x"));
    EXPECT_TRUE(UpdateMayUse("http://127.0.0.1:8080", "https://127.0.0.1:8443/x"));
}

TEST_F(EngineUpdate, AGoodUpdateIsUsedByTheNextLookUpAndRestoreBringsThePreviousBack)
{
    InstallOwnEngine("2025.01.01");
    EXPECT_EQ(LookUpArgs("2025.01.01"), (std::vector<std::string>{"--no-update", "--ignore-config", "--no-playlist",
                                                                  "--no-colors", "--socket-timeout", "15", "-J", "--",
                                                                  "http://127.0.0.1:1/page"}));

    Publish({"2026.08.19", StandInEngine("2026.08.19", Record("2026.08.19"))});
    std::vector<TUpdateStep> steps;
    TEngineUpdateOptions options;
    options.OnProgress = [&](TUpdateStep step, std::int64_t, std::int64_t) {
        if (steps.empty() || steps.back() != step)
            steps.push_back(step);
    };
    const TEngineUpdateResult result = UpdateEngine(options);
    ASSERT_EQ(result.Outcome, TUpdateOutcome::Updated) << UpdateResultText(result, false);
    EXPECT_EQ(UpdateResultText(result, false), "Page engine updated to 2026.08.19. The JavaScript runtime deno was fetched.");
    EXPECT_EQ(steps.front(), TUpdateStep::Looking);
    EXPECT_EQ(steps.back(), TUpdateStep::Runtime);

    struct stat st {};
    ASSERT_EQ(::lstat(EngineDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::lstat((EngineDir() + "/yt-dlp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(std::filesystem::exists(EngineDir() + "/yt-dlp.previous"));
    ExpectTidyEngineDir();

    // The new engine answers the next look-up, told about the fetched deno.
    const TEngineChoice choice = ChooseEngine();
    EXPECT_EQ(choice.Version, "2026.08.19");
    EXPECT_EQ(choice.Source, "own");
    EXPECT_EQ(choice.Runtime.Name, "deno");
    EXPECT_EQ(choice.Runtime.Version, "2.5.1");
    const std::vector<std::string> args = LookUpArgs("2026.08.19");
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(args[0], "--no-update");
    EXPECT_EQ(args[1], "--js-runtimes");
    EXPECT_EQ(args[2], "deno:" + EngineDir() + "/deno");

    // Already the newest: nothing changes.
    const std::string installed = ReadFile(EngineDir() + "/yt-dlp");
    const TEngineUpdateResult again = UpdateEngine({});
    EXPECT_EQ(again.Outcome, TUpdateOutcome::AlreadyNewest);
    EXPECT_EQ(UpdateResultText(again, false), "The page engine is already the newest (2026.08.19).");
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), installed);

    // Undo: the old one is back, and a look-up uses it without the option it doesn't know.
    ASSERT_TRUE(CanRestoreEngine());
    const TEngineUpdateResult restored = RestoreEngine();
    EXPECT_EQ(restored.Outcome, TUpdateOutcome::Restored);
    EXPECT_EQ(ChooseEngine().Version, "2025.01.01");
    const std::vector<std::string> oldArgs = LookUpArgs("2025.01.01");
    EXPECT_EQ(std::count(oldArgs.begin(), oldArgs.end(), "--js-runtimes"), 0);
    // The undone one is kept aside, not chosen, and not put back by a second Undo.
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp.undone"), installed);
    EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp.previous"));
    EXPECT_FALSE(CanRestoreEngine());
    ExpectTidyEngineDir();
}

TEST_F(EngineUpdate, UndoAfterTheFirstUpdateGoesBackToTheEngineOnPathOrBesideTheProgram)
{
    // Only an engine of the system's: the update installs the first own copy.
    const std::string system = WriteEngine(data_.File("bin/yt-dlp"), "2023.03.04");
    ASSERT_EQ(ChooseEngine().Path, system);
    EXPECT_FALSE(CanRestoreEngine());
    const std::string fresh = StandInEngine("2026.12.01", Record("2026.12.01"));
    Publish({"2026.12.01", fresh});
    const TEngineUpdateResult updated = UpdateEngine({});
    ASSERT_EQ(updated.Outcome, TUpdateOutcome::Updated) << UpdateResultText(updated, false);
    EXPECT_EQ(ChooseEngine().Source, "own");

    // Undo: the system's engine is the one in use again, not the newer own copy.
    ASSERT_TRUE(CanRestoreEngine());
    const TEngineUpdateResult undone = RestoreEngine();
    EXPECT_EQ(undone.Outcome, TUpdateOutcome::Restored) << UpdateResultText(undone, false);
    EXPECT_EQ(UpdateResultText(undone, false), "The previous page engine is back (2023.03.04, on PATH).");
    EXPECT_EQ(UpdateResultText(undone, true), "Przywrócono poprzedni silnik stron (2023.03.04, z PATH).");
    const TEngineChoice choice = ChooseEngine();
    EXPECT_EQ(choice.Path, system);
    EXPECT_EQ(choice.Source, "path");
    EXPECT_EQ(choice.Version, "2023.03.04");
    EXPECT_FALSE(LookUpArgs("2023.03.04").empty());
    // The own copy is kept aside, where the choice doesn't look.
    EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp"));
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp.undone"), fresh);
    ExpectTidyEngineDir();

    // Nothing is left to undo: a second Undo changes nothing and says so.
    EXPECT_FALSE(CanRestoreEngine());
    const TEngineUpdateResult again = RestoreEngine();
    EXPECT_EQ(again.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(again.Failure, TUpdateFailure::NoPrevious);
    EXPECT_EQ(UpdateResultText(again, false), "The page engine is unchanged: there is no update to undo.");
    EXPECT_EQ(UpdateResultText(again, true), "Silnik stron bez zmian: nie ma aktualizacji do cofnięcia.");
    ForgetProgramVersions();
    EXPECT_EQ(ChooseEngine().Path, system);
    EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp"));

    // One beside the program, newer than the system's: the same.
    ::mkdir(data_.File("app").c_str(), 0755);
    AppDir = data_.File("app");
    const std::string beside = WriteEngine(data_.File("app/yt-dlp"), "2024.05.05");
    ForgetProgramVersions();
    ASSERT_EQ(ChooseEngine().Path, beside);
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    EXPECT_EQ(ChooseEngine().Version, "2026.12.01");
    const TEngineUpdateResult besideBack = RestoreEngine();
    EXPECT_EQ(UpdateResultText(besideBack, false), "The previous page engine is back (2024.05.05, beside the program).");
    EXPECT_EQ(UpdateResultText(besideBack, true), "Przywrócono poprzedni silnik stron (2024.05.05, obok programu).");
    EXPECT_EQ(ChooseEngine().Path, beside);
    EXPECT_FALSE(CanRestoreEngine());
    ExpectTidyEngineDir();
}

TEST_F(EngineUpdate, UndoTwiceDoesNotPutTheNewerEngineBack)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    const std::string fresh = StandInEngine("2026.12.01", Record("2026.12.01"));
    Publish({"2026.12.01", fresh});
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    const TEngineUpdateResult undone = RestoreEngine();
    EXPECT_EQ(UpdateResultText(undone, false), "The previous page engine is back (2025.01.01, Brimtale's own copy).");
    EXPECT_EQ(UpdateResultText(undone, true), "Przywrócono poprzedni silnik stron (2025.01.01, własna kopia Brimtale).");

    EXPECT_FALSE(CanRestoreEngine());
    const TEngineUpdateResult again = RestoreEngine();
    EXPECT_EQ(again.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(again.Failure, TUpdateFailure::NoPrevious) << UpdateResultText(again, false);
    ForgetProgramVersions();
    EXPECT_EQ(ChooseEngine().Version, old);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), StandInEngine(old, Record(old)));
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp.undone"), fresh);
    EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp.previous"));

    // The next update can be undone again, once.
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    EXPECT_EQ(ChooseEngine().Version, "2026.12.01");
    ASSERT_TRUE(CanRestoreEngine());
    EXPECT_EQ(RestoreEngine().Outcome, TUpdateOutcome::Restored);
    EXPECT_EQ(ChooseEngine().Version, old);
    EXPECT_FALSE(CanRestoreEngine());
    ExpectTidyEngineDir();
}

TEST_F(EngineUpdate, UndoReturnsToTheEngineInUseAndLeavesAnOlderOwnCopyAsItWas)
{
    // An own copy older than the one on PATH: the one on PATH is in use.
    InstallOwnEngine("2024.01.01");
    const std::string system = WriteEngine(data_.File("bin/yt-dlp"), "2025.06.01");
    ASSERT_EQ(ChooseEngine().Path, system);
    Publish({"2026.12.01", StandInEngine("2026.12.01", Record("2026.12.01"))});
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    const TEngineUpdateResult undone = RestoreEngine();
    EXPECT_EQ(UpdateResultText(undone, false), "The previous page engine is back (2025.06.01, on PATH).");
    EXPECT_EQ(ChooseEngine().Path, system);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), StandInEngine("2024.01.01", Record("2024.01.01")));
    EXPECT_FALSE(CanRestoreEngine());
}

TEST_F(EngineUpdate, UndoBringsNoOwnCopyOfLongAgoAndNeedsTheEngineOfThen)
{
    // A previous own copy left from long ago, while the system's engine is in use.
    const std::string system = WriteEngine(data_.File("bin/yt-dlp"), "2023.03.04");
    ::mkdir(EngineDir().c_str(), 0700);
    WriteEngine(EngineDir() + "/yt-dlp.previous", "2025.05.05");
    EXPECT_FALSE(CanRestoreEngine());
    Publish({"2026.12.01", StandInEngine("2026.12.01", Record("2026.12.01"))});
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/yt-dlp.previous"));
    EXPECT_EQ(UpdateResultText(RestoreEngine(), false), "The previous page engine is back (2023.03.04, on PATH).");
    EXPECT_EQ(ChooseEngine().Path, system);

    // The engine of then is gone: taking the own copy away would leave none,
    // so nothing changes, and the message says why.
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    ::unlink(system.c_str());
    ASSERT_TRUE(CanRestoreEngine());
    const TEngineUpdateResult gone = RestoreEngine();
    EXPECT_EQ(gone.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(gone.Failure, TUpdateFailure::PreviousGone);
    EXPECT_EQ(UpdateResultText(gone, false),
              "The page engine is unchanged: the engine in use before the update is gone (" + system + ").");
    EXPECT_EQ(UpdateResultText(gone, true),
              "Silnik stron bez zmian: silnika używanego przed aktualizacją już nie ma (" + system + ").");
    ForgetProgramVersions();
    EXPECT_EQ(ChooseEngine().Version, "2026.12.01");
    EXPECT_TRUE(CanRestoreEngine());
    ExpectTidyEngineDir();

    // Back where it was, the Undo goes through.
    WriteEngine(system, "2023.03.04");
    EXPECT_EQ(RestoreEngine().Outcome, TUpdateOutcome::Restored);
    EXPECT_EQ(ChooseEngine().Path, system);
}

TEST_F(EngineUpdate, UndoFollowsNoLinkInTheEngineFolder)
{
    InstallOwnEngine("2025.01.01");
    const std::string fresh = StandInEngine("2026.12.01", Record("2026.12.01"));
    Publish({"2026.12.01", fresh});
    ASSERT_EQ(UpdateEngine({}).Outcome, TUpdateOutcome::Updated);
    ASSERT_TRUE(CanRestoreEngine());
    TempDir elsewhere;

    // The record as a link is not read.
    const std::string before = EngineDir() + "/yt-dlp.before";
    const std::string record = elsewhere.Write("before", ReadFile(before));
    ASSERT_EQ(::rename(before.c_str(), (before + ".real").c_str()), 0);
    ASSERT_EQ(::symlink(record.c_str(), before.c_str()), 0);
    EXPECT_FALSE(CanRestoreEngine());
    EXPECT_EQ(RestoreEngine().Failure, TUpdateFailure::NoPrevious);
    ::unlink(before.c_str());
    ASSERT_EQ(::rename((before + ".real").c_str(), before.c_str()), 0);

    // Nor is a previous engine that is a link put back.
    const std::string previous = EngineDir() + "/yt-dlp.previous";
    const std::string outside = WriteEngine(elsewhere.File("outside"), "2024.01.01");
    ASSERT_EQ(::rename(previous.c_str(), (previous + ".real").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), previous.c_str()), 0);
    EXPECT_FALSE(CanRestoreEngine());
    EXPECT_EQ(RestoreEngine().Failure, TUpdateFailure::NoPrevious);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), fresh);
    EXPECT_TRUE(std::filesystem::is_symlink(previous));
    ::unlink(previous.c_str());
    ASSERT_EQ(::rename((previous + ".real").c_str(), previous.c_str()), 0);

    // As they were, the Undo goes through.
    EXPECT_EQ(RestoreEngine().Outcome, TUpdateOutcome::Restored);
    EXPECT_EQ(ChooseEngine().Version, "2025.01.01");
}

TEST_F(EngineUpdate, EachFailureLeavesTheOldEngineAndSaysWhy)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    const std::string fresh = StandInEngine("2026.08.19", Record("2026.08.19"));

    TRelease bad{"2026.08.19", fresh};
    bad.BadSignature = true;
    Publish(bad);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::BadSignature, old);

    TRelease other{"2026.08.19", fresh};
    other.SignedBy = "other@example.invalid";
    Publish(other);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::WrongKey, old);

    TRelease changed{"2026.08.19", fresh};
    changed.ChangedFile = true;
    Publish(changed);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::HashDiffers, old);

    TRelease cut{"2026.08.19", fresh + std::string(200000, '#')};
    cut.DropAfter = 1000;
    Publish(cut);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::Transfer, old);

    TRelease broken{"2026.08.19", StandInEngine("2026.08.19", Record("x"), 3)};
    Publish(broken);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::DoesNotRun, old);

    TRelease liar{"2026.08.19", StandInEngine("2026.09.01", Record("x"))};
    Publish(liar);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::WrongVersion, old);

    // A server that stops sending: the user cancels, nothing changes.
    TRelease stalled{"2026.08.19", fresh + std::string(200000, '#')};
    stalled.StallAfter = 1000;
    Publish(stalled);
    std::atomic<bool> cancel{false};
    TEngineUpdateOptions options;
    options.OnProgress = [&](TUpdateStep step, std::int64_t done, std::int64_t) {
        if (step == TUpdateStep::Program && done >= 1000)
            cancel = true;
    };
    options.ShouldStop = [&] { return cancel.load(); };
    const auto started = std::chrono::steady_clock::now();
    ExpectOldEngineKept(UpdateEngine(options), TUpdateOutcome::Cancelled, TUpdateFailure::None, old);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));

    // And one that stalls with nobody there to cancel ends by itself.
    options = {};
    options.StallSeconds = 1;
    ExpectOldEngineKept(UpdateEngine(options), TUpdateOutcome::Failed, TUpdateFailure::Transfer, old);

    // No release server at all.
    ::setenv("BRIMTALE_RELEASES_URL", "http://127.0.0.1:1", 1);
    ExpectOldEngineKept(UpdateEngine({}), TUpdateOutcome::Failed, TUpdateFailure::Network, old);

    // Already newest: an older release changes nothing (deno is still fetched: there was none).
    ::setenv("BRIMTALE_RELEASES_URL", releases_.Url("").c_str(), 1);
    Publish({"2024.12.01", StandInEngine("2024.12.01", Record("x"))});
    const TEngineUpdateResult newest = UpdateEngine({});
    EXPECT_EQ(newest.Outcome, TUpdateOutcome::AlreadyNewest);
    EXPECT_EQ(newest.Version, old);
    EXPECT_EQ(ChooseEngine().Version, old);
    EXPECT_TRUE(newest.RuntimeFetched);
    // The old engine is not given the runtime it doesn't know.
    const std::vector<std::string> args = LookUpArgs(old);
    EXPECT_EQ(std::count(args.begin(), args.end(), "--js-runtimes"), 0);
    EXPECT_EQ(args.empty() ? std::string() : args.front(), "--no-update");
}

TEST_F(EngineUpdate, AKeyringThatIsNoRegularFileOrTooLargeIsRefusedAtOnce)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    Publish({"2026.08.19", StandInEngine("2026.08.19", Record("2026.08.19"))});

    // /dev/zero never ends: it must be turned down, not read.
    ::setenv("BRIMTALE_RELEASES_KEYRING", "/dev/zero", 1);
    std::future<TEngineUpdateResult> zero = std::async(std::launch::async, [] { return UpdateEngine({}); });
    if (zero.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // The update reads on and can't be stopped from here.
        std::fprintf(stderr, "The update still reads /dev/zero as its key after 30 s\n");
        std::_Exit(1);
    }
    TEngineUpdateResult result = zero.get();
    ExpectOldEngineKept(result, TUpdateOutcome::Failed, TUpdateFailure::NoKey, old);
    EXPECT_NE(UpdateResultText(result, false).find("/dev/zero: not a regular file"), std::string::npos)
        << UpdateResultText(result, false);

    // A FIFO nobody writes to must not hold the update up.
    const std::string fifo = data_.File("key.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("BRIMTALE_RELEASES_KEYRING", fifo.c_str(), 1);
    std::future<TEngineUpdateResult> waiting = std::async(std::launch::async, [] { return UpdateEngine({}); });
    if (waiting.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // A writer that goes at once lets the reader go on.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        ADD_FAILURE() << "the update waited for a writer of the FIFO named as its key";
    }
    result = waiting.get();
    ExpectOldEngineKept(result, TUpdateOutcome::Failed, TUpdateFailure::NoKey, old);
    EXPECT_NE(UpdateResultText(result, false).find("not a regular file"), std::string::npos)
        << UpdateResultText(result, false);

    // A key file larger than any key is not read.
    const std::string large = data_.Write("large.asc", ReadFile(Keys->TrustedKeyFile) + std::string(1024 * 1024, '\n'));
    ::setenv("BRIMTALE_RELEASES_KEYRING", large.c_str(), 1);
    result = UpdateEngine({});
    ExpectOldEngineKept(result, TUpdateOutcome::Failed, TUpdateFailure::NoKey, old);
    EXPECT_NE(UpdateResultText(result, false).find("larger than allowed"), std::string::npos)
        << UpdateResultText(result, false);

    // The same key in a file of its own size is taken.
    ::setenv("BRIMTALE_RELEASES_KEYRING", Keys->TrustedKeyFile.c_str(), 1);
    result = UpdateEngine({});
    EXPECT_EQ(result.Outcome, TUpdateOutcome::Updated) << UpdateResultText(result, false);
}

TEST_F(EngineUpdate, AHashListThatTricklesIsGivenUpWithinItsTime)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    const std::string fresh = StandInEngine("2026.08.19", Record("2026.08.19"));
    // Nobody cancels before half a minute: what ends the update sooner is its own bound.
    const auto started = std::chrono::steady_clock::now();
    TEngineUpdateOptions options;
    options.ListSeconds = 2;
    options.ShouldStop = [&] { return std::chrono::steady_clock::now() - started > std::chrono::seconds(30); };

    // About 20 s for the list alone: it never stalls long, but takes too long.
    TRelease slowList{"2026.08.19", fresh};
    slowList.SumsTrickleMs = 50;
    Publish(slowList);
    ExpectOldEngineKept(UpdateEngine(options), TUpdateOutcome::Failed, TUpdateFailure::Transfer, old);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(12));

    // The list and its signature have their time together: each alone would be
    // in time (well over a second each), both are not.
    TRelease slowBoth{"2026.08.19", fresh};
    slowBoth.SumsTrickleMs = 4;
    slowBoth.SignatureTrickleMs = 12;
    Publish(slowBoth);
    const auto second = std::chrono::steady_clock::now();
    const TEngineUpdateResult both = UpdateEngine(options);
    ExpectOldEngineKept(both, TUpdateOutcome::Failed, both.Failure, old);
    EXPECT_TRUE(both.Failure == TUpdateFailure::Transfer || both.Failure == TUpdateFailure::Network)
        << UpdateResultText(both, false);
    EXPECT_LT(std::chrono::steady_clock::now() - second, std::chrono::seconds(12));
}

TEST_F(EngineUpdate, AFetchedProgramThatDoesNotAnswerIsGivenUpAndNamed)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    const std::string fresh = StandInEngine("2026.08.19", Record("2026.08.19"));
    Publish({"2026.08.19", fresh});
    TEngineUpdateOptions options;
    options.CheckSeconds = 2;

    // deno hangs when asked its version: the engine is updated, deno is not
    // kept, and the message names deno, not the engine.
    ServeDeno("v2.5.1", "#!/bin/sh\nsleep 60\n");
    auto started = std::chrono::steady_clock::now();
    TEngineUpdateResult result = UpdateEngine(options);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_EQ(result.Outcome, TUpdateOutcome::Updated) << UpdateResultText(result, false);
    EXPECT_FALSE(result.RuntimeFetched);
    EXPECT_EQ(result.RuntimeFailure, TUpdateFailure::NoAnswer);
    std::string text = UpdateResultText(result, false);
    EXPECT_EQ(text, "Page engine updated to 2026.08.19. deno was not fetched: the fetched deno doesn't answer "
                    "(--version, 2 s).");
    EXPECT_EQ(text.find("engine doesn't"), std::string::npos) << text;
    EXPECT_NE(UpdateResultText(result, true).find("pobrane deno nie odpowiada"), std::string::npos)
        << UpdateResultText(result, true);
    EXPECT_FALSE(std::filesystem::exists(EngineDir() + "/deno"));
    ExpectTidyEngineDir();

    // One that fails at once is named just as well.
    ServeDeno("v2.5.1", "#!/bin/sh\necho broken >&2\nexit 3\n");
    result = UpdateEngine(options);
    EXPECT_EQ(result.Outcome, TUpdateOutcome::AlreadyNewest) << UpdateResultText(result, false);
    EXPECT_EQ(result.RuntimeFailure, TUpdateFailure::DoesNotRun);
    text = UpdateResultText(result, false);
    EXPECT_NE(text.find("deno was not fetched: the fetched deno doesn't run (broken)"), std::string::npos) << text;

    // A new engine that hangs is the engine's failure, and ends in time too.
    std::filesystem::remove(EngineDir() + "/yt-dlp.previous");
    std::filesystem::remove(EngineDir() + "/yt-dlp.before");
    InstallOwnEngine(old);
    Publish({"2026.08.20", "#!/bin/sh\nsleep 60\n"});
    started = std::chrono::steady_clock::now();
    result = UpdateEngine(options);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    ExpectOldEngineKept(result, TUpdateOutcome::Failed, TUpdateFailure::NoAnswer, old);
    EXPECT_EQ(UpdateResultText(result, false).rfind("The page engine is unchanged: the new engine doesn't answer", 0), 0u)
        << UpdateResultText(result, false);
}

TEST_F(EngineUpdate, TwoUpdatesAtOnceLeaveOneWholeEngine)
{
    InstallOwnEngine("2025.01.01");
    const std::string fresh = StandInEngine("2026.08.19", Record("2026.08.19")) + "# " + std::string(300000, 'x') + "\n";
    Publish({"2026.08.19", fresh});
    TEngineUpdateResult a, b;
    std::thread first([&] { a = UpdateEngine({}); });
    std::thread second([&] { b = UpdateEngine({}); });
    first.join();
    second.join();
    const std::set<TUpdateOutcome> outcomes{a.Outcome, b.Outcome};
    EXPECT_EQ(outcomes, (std::set<TUpdateOutcome>{TUpdateOutcome::Updated, TUpdateOutcome::AlreadyNewest}));
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), fresh);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp.previous"), StandInEngine("2025.01.01", Record("2025.01.01")));
    ExpectTidyEngineDir();

    // Told not to wait, a second caller says another update runs.
    TEngineUpdateOptions slow;
    std::atomic<bool> inside{false}, release{false};
    slow.OnProgress = [&](TUpdateStep, std::int64_t, std::int64_t) {
        inside = true;
        while (!release)
            std::this_thread::yield();
    };
    std::thread holder([&] { UpdateEngine(slow); });
    while (!inside)
        std::this_thread::yield();
    TEngineUpdateOptions impatient;
    impatient.WaitForOther = false;
    const TEngineUpdateResult busy = UpdateEngine(impatient);
    release = true;
    holder.join();
    EXPECT_EQ(busy.Outcome, TUpdateOutcome::Busy);
    EXPECT_EQ(UpdateResultText(busy, false), "Another page engine update is running.");
}

TEST_F(EngineUpdate, NightlyChannelAndAnEngineFolderThatIsALink)
{
    InstallOwnEngine("2025.01.01");
    Publish({"2026.08.19.123456", StandInEngine("2026.08.19.123456", Record("n"))}, true);
    TEngineUpdateOptions nightly;
    nightly.Channel = TEngineChannel::Nightly;
    const TEngineUpdateResult result = UpdateEngine(nightly);
    EXPECT_EQ(result.Outcome, TUpdateOutcome::Updated) << UpdateResultText(result, false);
    EXPECT_EQ(ChooseEngine().Version, "2026.08.19.123456");

    // engine/ as a link to somewhere else is not used or written through.
    TempDir elsewhere;
    std::filesystem::remove_all(EngineDir());
    ASSERT_EQ(::symlink(elsewhere.Path().c_str(), EngineDir().c_str()), 0);
    const TEngineUpdateResult refused = UpdateEngine({});
    EXPECT_EQ(refused.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(refused.Failure, TUpdateFailure::Folder);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
}

TEST_F(EngineUpdate, AnEngineFolderReplacedByALinkMidWayIsNeverWrittenThrough)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    Publish({"2026.08.19", StandInEngine("2026.08.19", Record("2026.08.19"))});
    TempDir elsewhere;
    const std::string moved = EngineDir() + ".moved";
    std::thread second;
    TEngineUpdateResult secondResult;
    bool swapped = false;
    std::vector<std::string> seenElsewhere;
    TEngineUpdateOptions options;
    options.OnProgress = [&](TUpdateStep step, std::int64_t, std::int64_t) {
        if (!swapped) {
            // Once the update holds the folder, engine/ becomes a link to another folder...
            swapped = true;
            ASSERT_EQ(::rename(EngineDir().c_str(), moved.c_str()), 0);
            ASSERT_EQ(::symlink(elsewhere.Path().c_str(), EngineDir().c_str()), 0);
            // ...and a second update starts.
            second = std::thread([&] { secondResult = UpdateEngine({}); });
            return;
        }
        for (const auto& entry : std::filesystem::directory_iterator(elsewhere.Path()))
            seenElsewhere.push_back(UpdateStepText(step, false) + " " + entry.path().filename().string());
    };
    const TEngineUpdateResult first = UpdateEngine(options);
    second.join();
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(seenElsewhere.empty()) << "written through the link: " << seenElsewhere.front();
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
    // The first finds its folder gone from engine/ and installs nothing; the
    // second never uses a link as engine/.
    EXPECT_EQ(first.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(first.Failure, TUpdateFailure::Folder) << UpdateResultText(first, false);
    EXPECT_EQ(secondResult.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(secondResult.Failure, TUpdateFailure::Folder) << UpdateResultText(secondResult, false);
    // The folder that was moved away holds the old engine alone.
    EXPECT_EQ(ReadFile(moved + "/yt-dlp"), StandInEngine(old, Record(old)));
    for (const auto& entry : std::filesystem::directory_iterator(moved)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "yt-dlp" || name == ".lock") << "left in the moved folder: " << name;
    }
}

TEST_F(EngineUpdate, AnUpdateWaitingForAnotherFollowsAFolderReplacedMeanwhile)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    const std::string fresh = StandInEngine("2026.08.19", Record("2026.08.19"));
    Publish({"2026.08.19", fresh});
    const std::string moved = EngineDir() + ".moved";

    // The first holds the lock until the second waits for it.
    std::atomic<bool> inside{false}, release{false}, waiting{false};
    TEngineUpdateOptions holder;
    holder.OnProgress = [&](TUpdateStep, std::int64_t, std::int64_t) {
        inside = true;
        while (!release)
            std::this_thread::yield();
    };
    TEngineUpdateResult a, b;
    std::thread first([&] { a = UpdateEngine(holder); });
    while (!inside)
        std::this_thread::yield();
    TEngineUpdateOptions patient;
    patient.OnProgress = [&](TUpdateStep step, std::int64_t, std::int64_t) {
        if (step == TUpdateStep::Waiting)
            waiting = true;
    };
    std::thread second([&] { b = UpdateEngine(patient); });
    while (!waiting)
        std::this_thread::yield();
    // Meanwhile engine/ is moved away and made anew with the old engine in it.
    ASSERT_EQ(::rename(EngineDir().c_str(), moved.c_str()), 0);
    InstallOwnEngine(old);
    release = true;
    first.join();
    second.join();

    // The first installs nothing into a folder that is no longer engine/; the
    // second updates the engine/ there is now.
    EXPECT_EQ(a.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(a.Failure, TUpdateFailure::Folder) << UpdateResultText(a, false);
    EXPECT_EQ(ReadFile(moved + "/yt-dlp"), StandInEngine(old, Record(old)));
    EXPECT_EQ(b.Outcome, TUpdateOutcome::Updated) << UpdateResultText(b, false);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), fresh);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp.previous"), StandInEngine(old, Record(old)));
    ForgetProgramVersions();
    EXPECT_EQ(ChooseEngine().Version, "2026.08.19");
    ExpectTidyEngineDir();
}

TEST_F(EngineUpdate, LinksInTheEngineFolderAreNeverFollowed)
{
    const std::string old = "2025.01.01";
    InstallOwnEngine(old);
    TempDir elsewhere;
    const std::string outside = elsewhere.Write("outside", StandInEngine("2024.01.01", Record("outside")));
    ::chmod(outside.c_str(), 0755);

    // A previous engine that is a link is not put back.
    const std::string previous = EngineDir() + "/yt-dlp.previous";
    ASSERT_EQ(::symlink(outside.c_str(), previous.c_str()), 0);
    EXPECT_FALSE(CanRestoreEngine());
    const TEngineUpdateResult restored = RestoreEngine();
    EXPECT_EQ(restored.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(restored.Failure, TUpdateFailure::NoPrevious) << UpdateResultText(restored, false);
    EXPECT_EQ(ReadFile(EngineDir() + "/yt-dlp"), StandInEngine(old, Record(old)));
    EXPECT_TRUE(std::filesystem::is_symlink(previous));
    EXPECT_EQ(ReadFile(outside), StandInEngine("2024.01.01", Record("outside")));
    ::unlink(previous.c_str());

    // A lock file that is a link is not taken.
    const std::string lock = EngineDir() + "/.lock";
    ::unlink(lock.c_str());
    ASSERT_EQ(::symlink(outside.c_str(), lock.c_str()), 0);
    Publish({"2026.08.19", StandInEngine("2026.08.19", Record("2026.08.19"))});
    const TEngineUpdateResult locked = UpdateEngine({});
    EXPECT_EQ(locked.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(locked.Failure, TUpdateFailure::Folder) << UpdateResultText(locked, false);
    EXPECT_EQ(ReadFile(outside), StandInEngine("2024.01.01", Record("outside")));
    ::unlink(lock.c_str());

    // An engine that is a link is replaced as a link: the file it named stays as it was.
    const std::string engine = EngineDir() + "/yt-dlp";
    ::unlink(engine.c_str());
    ASSERT_EQ(::symlink(outside.c_str(), engine.c_str()), 0);
    const TEngineUpdateResult updated = UpdateEngine({});
    EXPECT_EQ(updated.Outcome, TUpdateOutcome::Updated) << UpdateResultText(updated, false);
    EXPECT_FALSE(std::filesystem::is_symlink(engine));
    EXPECT_EQ(ReadFile(engine), StandInEngine("2026.08.19", Record("2026.08.19")));
    EXPECT_FALSE(std::filesystem::exists(previous) || std::filesystem::is_symlink(previous));
    EXPECT_EQ(ReadFile(outside), StandInEngine("2024.01.01", Record("outside")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere.Path()), {}), 1);

    // engine/ as a link to a folder with a previous engine: there is nothing to put back.
    TempDir other;
    std::filesystem::copy_file(engine, other.File("yt-dlp.previous"));
    std::filesystem::remove_all(EngineDir());
    ASSERT_EQ(::symlink(other.Path().c_str(), EngineDir().c_str()), 0);
    EXPECT_FALSE(CanRestoreEngine());
    const TEngineUpdateResult throughLink = RestoreEngine();
    EXPECT_EQ(throughLink.Outcome, TUpdateOutcome::Failed);
    EXPECT_EQ(throughLink.Failure, TUpdateFailure::Folder) << UpdateResultText(throughLink, false);
    EXPECT_TRUE(std::filesystem::exists(other.File("yt-dlp.previous")));
    EXPECT_FALSE(std::filesystem::exists(other.File("yt-dlp")));
}

TEST_F(EngineUpdate, TheDebianEngineAndANewerStandIn)
{
    ::setenv("PATH", (data_.File("bin") + ":/usr/bin:/bin").c_str(), 1);
    const std::string debian = FindExecutable("yt-dlp");
    if (debian.empty() || ProgramVersionOf(debian) != "2023.03.04")
        GTEST_SKIP() << "Debian's yt-dlp 2023.03.04 is not installed";
    // With only Debian's engine, it is used, out of date, and given nothing it doesn't know.
    TEngineChoice choice = ChooseEngine();
    EXPECT_EQ(choice.Path, debian);
    EXPECT_EQ(choice.Source, "path");
    EXPECT_GT(EngineAgeDays(choice.Version), EngineStaleDays);
    EXPECT_TRUE(EngineMayBeTheCause(choice, false));
    choice.Runtime = {"deno", "/x/deno", "2.5.1"};
    EXPECT_EQ(EngineBaseArgs(choice), std::vector<std::string>{"--no-update"});
    // It accepts what it is given.
    std::string out;
    EXPECT_EQ(RunProgram(debian, EngineRunArgs(ChooseEngine(), {"--version"}), &out), 0) << out;

    // A stand-in beside the executable claiming a newer version wins.
    const std::string beside = data_.File("app");
    ::mkdir(beside.c_str(), 0755);
    std::ofstream(beside + "/yt-dlp") << StandInEngine("2026.08.19", Record("beside"));
    ::chmod((beside + "/yt-dlp").c_str(), 0755);
    AppDir = beside;
    ForgetProgramVersions();
    choice = ChooseEngine();
    EXPECT_EQ(choice.Version, "2026.08.19");
    EXPECT_EQ(choice.Source, "beside");
}

TEST(EngineReleaseTexts, TheShippedKeyIsTheEnginesSigningKey)
{
    const std::string gpg = FindExecutable("gpg");
    if (gpg.empty())
        GTEST_SKIP() << "gpg is not installed";
    TempDir home;
    ::chmod(home.Path().c_str(), 0700);
    ::setenv("GNUPGHOME", home.Path().c_str(), 1);
    // Read as the update reads it: the armor taken off by the program itself.
    const std::string key = Dearmor(ReadFile(std::string(BRIMTALE_SOURCE_DIR) + "/data/yt-dlp-signing-key.asc"));
    ASSERT_FALSE(key.empty());
    const std::string binary = home.Write("key.gpg", key);
    std::string out;
    EXPECT_EQ(RunProgram(gpg, {"--batch", "--with-colons", "--show-keys", binary}, &out), 0) << out;
    EXPECT_NE(out.find("fpr:::::::::AC0CBBE6848D6A873464AF4E57CF65933B5A7581:"), std::string::npos) << out;
}
