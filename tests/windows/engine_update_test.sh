#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The page engine's own update of brimtale-cli.exe under Wine, against a
# stand-in for GitHub's releases on 127.0.0.1 (tests/windows/release_serve.py)
# with a signing key made here, checked by the gpgv.exe beside the program:
#   1. --update-engine installs a release's yt-dlp.exe (and deno.exe from its
#      zip), --engine-status names it;
#   2. a newer release replaces it, the one before kept;
#   3. a release whose list has a bad signature is refused, the engine kept;
#   4. a release whose yt-dlp.exe has another SHA-256 than listed is refused;
#   5. --restore-engine brings back the engine before the last update.
#   engine_update_test.sh BUILD_FOLDER   (build-windows, with brimtale-cli.exe,
#                                          gpgv.exe and tests/windows/)
set -euo pipefail
# A step that fails ends the test; it says which.
trap 'echo "engine update test: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
build=$(cd "${1:?usage: engine_update_test.sh BUILD_FOLDER}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG=-all
command -v wine >/dev/null || { echo "wine is missing"; exit 1; }
command -v gpg >/dev/null || { echo "gpg is missing"; exit 1; }

work=$(mktemp -d /tmp/brimtale-win-update.XXXXXX)
server_pid=
cleanup() {
  [ -n "${KEEP:-}" ] && { echo "kept $work"; return; }
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  gpgconf --homedir "$work/gnupg" --kill all 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/app" "$work/srv" "$work/gnupg"
chmod 700 "$work/gnupg"
cp "$build/brimtale-cli.exe" "$build/gpgv.exe" "$work/app/"
printf '[Main]\r\nLanguage=EN\r\n' > "$work/app/bmt.ini"   # a portable folder: engine/ is here
engine_dir=$work/app/engine
stand_in=$build/tests/windows/stand-in-engine/stand-in-engine.exe

# The signing key, made for this run only.
export GNUPGHOME=$work/gnupg
gpg --batch -q --passphrase '' --quick-gen-key "Brimtale test <test@127.0.0.1>" ed25519 sign never
gpg --batch -q --export > "$work/key.gpg"

# Wine sees / as Z:.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
export BRIMTALE_RELEASES_KEYRING
BRIMTALE_RELEASES_KEYRING=$(winpath "$work/key.gpg")

# A release: the stand-in printing its version, the list of hashes, its
# signature. bad_signature: the list is signed and then changed; wrong_hash:
# the program differs from the one listed.
repo=$work/srv/yt-dlp/yt-dlp
release() {
  local tag=$1 flaw=${2:-}
  local dir=$repo/$tag
  mkdir -p "$dir"
  { cat "$stand_in"; printf '\nSTAND-IN-VERSION=%s\n' "$tag"; } > "$dir/yt-dlp.exe"
  (cd "$dir" && sha256sum yt-dlp.exe > SHA2-256SUMS)
  [ "$flaw" = wrong_hash ] && printf 'changed' >> "$dir/yt-dlp.exe"
  gpg --batch -q --detach-sign -o "$dir/SHA2-256SUMS.sig" "$dir/SHA2-256SUMS"
  [ "$flaw" = bad_signature ] && printf '0000000000000000000000000000000000000000000000000000000000000000  other\n' \
    >> "$dir/SHA2-256SUMS"
  echo "$tag" > "$repo/latest"
}

# deno for the engine: the stand-in as deno.exe in its zip, with the zip's hash.
deno=$work/srv/denoland/deno/v2.3.1
mkdir -p "$deno" "$work/zip"
{ cat "$stand_in"; printf '\nSTAND-IN-VERSION=deno 2.3.1 (stable, release, x86_64-pc-windows-msvc)\n'; } \
  > "$work/zip/deno.exe"
(cd "$work/zip" && zip -q "$deno/deno-x86_64-pc-windows-msvc.zip" deno.exe)
(cd "$deno" && sha256sum deno-x86_64-pc-windows-msvc.zip > deno-x86_64-pc-windows-msvc.zip.sha256sum)
echo v2.3.1 > "$work/srv/denoland/deno/latest"

# The server prints its port once it listens; it ends by itself after 280 s.
exec {server_out}< <(exec python3 "$here/release_serve.py" "$work/srv" "$work/requests.log" 280)
server_pid=$!
read -r -t 20 -u "$server_out" port
export BRIMTALE_RELEASES_URL=http://127.0.0.1:$port

cli() { wine "$work/app/brimtale-cli.exe" "$@"; }
failed=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# The engine --engine-status names: "VERSION (SOURCE)".
engine_in_use() { cli --engine-status 2>/dev/null | sed -nE 's/^engine: .* ([^ ]+), .* days old \(([a-z]+)\)\r?$/\1 (\2)/p'; }
run_update() {
  local name=$1
  set +e
  cli --update-engine >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  set -e
}

# 1. The first release, and deno with it.
release 2025.01.01
run_update first
now=$(engine_in_use)
if [ "$status" -eq 0 ] && [ -f "$engine_dir/yt-dlp.exe" ] && [ "$now" = "2025.01.01 (own)" ] &&
   [ -f "$engine_dir/deno.exe" ] && cli --engine-status 2>/dev/null | grep -q '^runtime: deno .*engine/deno\.exe 2\.3\.1'; then
  pass "update installs yt-dlp.exe 2025.01.01 and deno.exe; --engine-status names them"
else
  fail "first update (exit code $status, in use: $now)"; cat "$work/first.out" "$work/first.err"
  cli --engine-status || true; ls -la "$engine_dir" || true
fi

# 2. A newer release; the one before is kept.
release 2025.02.02
run_update second
now=$(engine_in_use)
if [ "$status" -eq 0 ] && [ "$now" = "2025.02.02 (own)" ] && [ -f "$engine_dir/yt-dlp.previous" ]; then
  pass "a newer release replaces it, the one before kept"
else
  fail "second update (exit code $status, in use: $now)"; cat "$work/second.out" "$work/second.err"
fi

# 3. A list whose signature does not hold.
release 2025.03.03 bad_signature
run_update badsig
now=$(engine_in_use)
if [ "$status" -ne 0 ] && [ "$now" = "2025.02.02 (own)" ] && grep -q "the signature is not good" "$work/badsig.out" "$work/badsig.err"; then
  pass "a bad signature is refused, the engine kept"
else
  fail "bad signature (exit code $status, in use: $now)"; cat "$work/badsig.out" "$work/badsig.err"
fi

# 4. A program that is not the one listed.
rm -rf "${repo:?}/2025.03.03"
release 2025.03.03 wrong_hash
run_update wronghash
now=$(engine_in_use)
if [ "$status" -ne 0 ] && [ "$now" = "2025.02.02 (own)" ] && grep -q "differs from its signed hash" "$work/wronghash.out" "$work/wronghash.err"; then
  pass "a wrong SHA-256 is refused, the engine kept"
else
  fail "wrong SHA-256 (exit code $status, in use: $now)"; cat "$work/wronghash.out" "$work/wronghash.err"
fi
if ls "$engine_dir" | grep -q '^\.yt-dlp\.new-'; then
  fail "a refused download stayed in engine/"; ls -la "$engine_dir"
fi

# 5. Back to the engine before the last update.
set +e
cli --restore-engine >"$work/restore.out" 2>"$work/restore.err"
status=$?
set -e
now=$(engine_in_use)
if [ "$status" -eq 0 ] && [ "$now" = "2025.01.01 (own)" ]; then
  pass "--restore-engine brings back 2025.01.01"
else
  fail "restore (exit code $status, in use: $now)"; cat "$work/restore.out" "$work/restore.err"
fi

echo "windows engine update: $failed failed"
# The count has said it; failed checks are not a failed step.
exit $((failed > 0))
