// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeping the program's own page engine current: the newest release is found
// from the redirect of the releases' "latest" address, its SHA2-256SUMS must
// carry a good signature of the engine's signing key, the program's SHA-256
// must be the one listed there, and the new file must run and name the
// release's version, all before anything in engine/ is replaced. The own copy
// before stays as yt-dlp.previous, and yt-dlp.before names the engine that was
// in use (own copy, beside the program or on PATH): Undo returns to that one,
// once. When no JavaScript runtime is found, the same update fetches deno (hash
// checked, unpacked from its zip). On Windows the files are yt-dlp.exe and
// deno.exe, and the signature is checked by the gpgv.exe beside the program.
//
// Releases come from https://github.com unless BRIMTALE_RELEASES_URL names
// another base; BRIMTALE_RELEASES_KEYRING names a public key file to trust
// instead of the shipped key. An update that begins on https stays there:
// every address it fetches and every redirect on the way is https.

#include "net/BoundedFetch.h"

#include <cstdint>
#include <functional>
#include <string>

enum class TEngineChannel { Stable, Nightly };

// "yt-dlp/yt-dlp" or "yt-dlp/yt-dlp-nightly-builds".
std::string EngineRepository(TEngineChannel channel);
// BRIMTALE_RELEASES_URL without a trailing "/", else "https://github.com".
std::string ReleasesBase();
// The tag a ".../releases/tag/TAG" address names; empty when it names none.
std::string TagFromReleaseAddress(const std::string& location);
// The hash listed for name in a SHA2-256SUMS text ("HASH  NAME" lines), lower
// case; empty when the name isn't there.
std::string ListedHash(const std::string& sums, const std::string& name);
// The binary packets of an armored OpenPGP key (the text as it is when it
// isn't armored); empty when the armor is broken.
std::string Dearmor(const std::string& text);
// The engine file of a release for this machine: on Linux "yt-dlp" when
// python3 3.10 or later is there, else the machine's single-file build; on
// Windows "yt-dlp.exe".
std::string EngineFileName();

enum class TUpdateOutcome { Updated, AlreadyNewest, Restored, Failed, Cancelled, Busy };

// Why an update failed.
enum class TUpdateFailure {
    None, Folder, Network, NoRelease, NoKey, NoVerifier, BadSignature, WrongKey, NotListed,
    HashDiffers, Transfer, DoesNotRun, WrongVersion, NoBuild, NoPrevious, Unpack, NoAnswer, PreviousGone,
};

struct TEngineUpdateResult {
    TUpdateOutcome Outcome = TUpdateOutcome::Failed;
    TUpdateFailure Failure = TUpdateFailure::None;
    std::string Detail;         // the server's, library's or program's own words (may be empty)
    std::string Version;        // the release's version (or the one in use when already newest or restored)
    // Restored: where the engine in use now comes from ("own", "beside",
    // "path", "given"); empty when there is none.
    std::string Source;
    // When the JavaScript runtime was wanted but could not be fetched: why.
    TUpdateFailure RuntimeFailure = TUpdateFailure::None;
    std::string RuntimeDetail;
    bool RuntimeFetched = false;
};

// The steps, for a progress display.
enum class TUpdateStep { Waiting, Looking, Sums, Signature, Program, Checking, Installing, Runtime };

struct TEngineUpdateOptions {
    TEngineChannel Channel = TEngineChannel::Stable;
    bool WaitForOther = true;  // another update runs: wait for it (else Busy at once)
    std::function<void(TUpdateStep step, std::int64_t done, std::int64_t total)> OnProgress;
    std::function<bool()> ShouldStop;
    int StallSeconds = 30;
    // The time the list of hashes and its signature have together (deno's
    // hash alone has as much).
    int ListSeconds = 60;
    // The time a fetched program (the engine, deno) has to answer --version.
    int CheckSeconds = 60;
};

// The kinds of fetch an update makes.
enum class TUpdateFetch { Latest, Sums, Signature, Program, RuntimeSum, RuntimeZip };
// The bounds of one kind of fetch of an update from base.
TFetchLimits UpdateFetchLimits(TUpdateFetch what, const std::string& base, const TEngineUpdateOptions& options);
// Whether an update from base may fetch url (or take its release from it):
// from an https base, only an https address.
bool UpdateMayUse(const std::string& base, const std::string& url);

// Runs the update (network, child processes; blocks). Safe to call from several
// threads or processes: one update at a time.
TEngineUpdateResult UpdateEngine(const TEngineUpdateOptions& options);

// Undoes the last update: the engine in use before it is the one in use
// again. The own copy it installed goes aside as engine/yt-dlp.undone (never
// chosen), and engine/yt-dlp is again what it was then: yt-dlp.previous, or
// none when another engine was in use. Once undone, there is nothing to undo
// until the next update. Nothing changes when the engine of then is gone.
TEngineUpdateResult RestoreEngine();
// True when there is an update to undo.
bool CanRestoreEngine();

// The result in one line, in English or Polish.
std::string UpdateResultText(const TEngineUpdateResult& result, bool polish);
// A step's name for a progress display.
std::string UpdateStepText(TUpdateStep step, bool polish);
