#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# brimtale-cli.exe under Wine against a server on 127.0.0.1 (tests/windows/serve.py):
#   1. a media file by its address, byte for byte;
#   2. a transfer cut in the middle, continued with Range, byte for byte;
#   3. a conversion through the stand-in ffmpeg.exe beside the program, with an
#      output name full of what a shell or the command line would read
#      ($( ), ;, quotes, &, ^, %), which must reach the encoder as it is;
#   4. a page through a stand-in yt-dlp.exe: the address reaches it whole and
#      the page's title names the file, made safe for Windows.
#   5. Ctrl+C in the console during a slow transfer: exit code 130 and the
#      partial file kept under its name.
#   cli_e2e.sh BUILD_FOLDER   (build-windows, with brimtale-cli.exe and tests/windows/)
set -euo pipefail
build=$(cd "${1:?usage: cli_e2e.sh BUILD_FOLDER}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
export WINEDEBUG=-all
command -v wine >/dev/null || { echo "wine is missing"; exit 1; }

work=$(mktemp -d /tmp/brimtale-win-e2e.XXXXXX)
server_pid=
cleanup() {
  [ -n "${KEEP:-}" ] && { echo "kept $work"; return; }
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/app" "$work/srv" "$work/out"
cp "$build/brimtale-cli.exe" "$work/app/"
cp "$source_dir/data/bmt_encoder_profiles.ini" "$work/app/"
printf '[Main]\r\nLanguage=EN\r\n' > "$work/app/bmt.ini"   # a portable folder: the data stays here

# Media: an MP4 header and random bytes (3 MB), and a larger one for the slow transfer.
media() { { printf '\0\0\0\034ftypmp42\0\0\0\0mp42isom'; head -c "$2" /dev/urandom; } > "$work/srv/$1"; }
media clip.mp4 3000000
media big.mp4 8000000

# The server prints its port once it listens; it ends by itself after 240 s.
exec {server_out}< <(exec python3 "$here/serve.py" "$work/srv" "$work/requests.log" 240)
server_pid=$!
read -r -t 20 -u "$server_out" port
base="http://127.0.0.1:$port"

# Wine sees / as Z:.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
cli() { wine "$work/app/brimtale-cli.exe" "$@"; }
failed=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# 1. A media file by its address.
mkdir -p "$work/out/direct"
if out=$(cli -q --no-metadata -d "$(winpath "$work/out/direct")" "$base/clip.mp4" 2>"$work/direct.err") &&
   cmp -s "$work/out/direct/clip.mp4" "$work/srv/clip.mp4"; then
  pass "direct download, byte-identical ($out)"
else
  fail "direct download"; cat "$work/direct.err"
fi

# 2. Cut in the middle, continued with Range.
mkdir -p "$work/out/cut"
if cli -q --no-metadata --connections 1 -d "$(winpath "$work/out/cut")" -o cut.mp4 "$base/cut/clip.mp4" \
       >/dev/null 2>"$work/cut.err" &&
   cmp -s "$work/out/cut/cut.mp4" "$work/srv/clip.mp4" &&
   grep -qE '^GET /cut/clip.mp4 bytes=[1-9][0-9]*-' "$work/requests.log"; then
  pass "transfer cut in the middle, continued with Range, byte-identical"
else
  fail "cut transfer"; cat "$work/cut.err"; grep cut "$work/requests.log" || true
fi

# 3. A conversion through the stand-in encoder; the name must reach it whole.
cp "$build/tests/windows/stand-in/ffmpeg.exe" "$work/app/"
mkdir -p "$work/out/conv"
name="Film \$(id); 'q' & ^x %PATH% !v! [1]"
conv="Z:$work/out/conv"
set +e
cli -q --no-metadata -p MP3 -d "$(winpath "$work/out/conv")" -o "$name.mp4" "$base/clip.mp4" \
  >"$work/conv.out" 2>"$work/conv.err"
status=$?
set -e
# What the encoder got, argument for argument (the profile's Params, the
# input, the temporary output beside the final one).
printf '%s\n' -hide_banner -n -i "$conv/$name.mp4" -vn -c:a libmp3lame -q:a 4 "$conv/.$name.mp3.part.mp3" \
  > "$work/expected-args.txt"
if [ "$status" -eq 0 ] && [ -f "$work/out/conv/$name.mp3" ] &&
   cmp -s <(printf 'converted '; cat "$work/srv/clip.mp4") "$work/out/conv/$name.mp3" &&
   cmp -s "$work/expected-args.txt" "$work/app/encoder-args.txt"; then
  pass "conversion through the stand-in ffmpeg.exe, the hostile name passed whole"
else
  fail "conversion (exit code $status)"; cat "$work/conv.out" "$work/conv.err"
  diff "$work/expected-args.txt" "$work/app/encoder-args.txt" || true
  ls -la "$work/out/conv"
fi

# 4. A page through the stand-in page engine beside the program: the address
# reaches it whole after "--", and the page's title (with characters Windows
# forbids in names) names the file.
cp "$build/tests/windows/stand-in/yt-dlp.exe" "$work/app/"
cp "$work/srv/clip.mp4" "$work/app/engine-media.bin"
title='Wideo: za\u017c\u00f3\u0142\u0107 <1>?'
printf '{"title": "%s", "ext": "mp4", "url": "%s/clip.mp4", "webpage_url": "%s/watch"}' \
  "$title" "$base" "$base" > "$work/app/engine-page.json"
page="$base/watch?v=1&list=\$(id);x'y"
mkdir -p "$work/out/page"
set +e
cli -q --no-metadata -d "$(winpath "$work/out/page")" "$page" >"$work/page.out" 2>"$work/page.err"
status=$?
set -e
made=("$work/out/page"/*.mp4)
if [ "$status" -eq 0 ] && [ ${#made[@]} -eq 1 ] && [ -f "${made[0]}" ] &&
   cmp -s "${made[0]}" "$work/srv/clip.mp4" &&
   [[ "$(basename "${made[0]}")" == *$'za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87'* ]] &&
   [[ "$(basename "${made[0]}")" != *[\<\>:\?]* ]] &&
   [ "$(tail -n 2 "$work/app/engine-args.txt")" = "$(printf -- '--\n%s' "$page")" ]; then
  pass "a page through the stand-in yt-dlp.exe: $(basename "${made[0]}")"
else
  fail "page through the engine (exit code $status)"; cat "$work/page.err"; ls -la "$work/out/page"
  cat "$work/app/engine-args.txt" 2>/dev/null || true
fi
rm -f "$work/app/yt-dlp.exe"

# 5. Ctrl+C in the console while the slow transfer runs. Wine gives a program
# a console only on a terminal, so the run gets one from script(1) (its output
# still goes to files; each word quoted with %q), and Ctrl+C is typed into that
# terminal once the partial file has grown, as a user would. The terminal's
# shell catches Ctrl+C itself (a caught signal is default again in the program),
# so that a shell such as dash, which would die of it, lives to write the code.
mkdir -p "$work/out/ctrlc"
partial="$work/out/ctrlc/Slow.mp4"
words=(wine "$work/app/brimtale-cli.exe" --no-metadata --connections 1 -d "$(winpath "$work/out/ctrlc")"
       -o Slow.mp4 "$base/slow/big.mp4")
line="$(printf '%q ' "${words[@]}")>$(printf %q "$work/ctrlc.out") 2>$(printf %q "$work/ctrlc.err")"
type_ctrl_c() {
  # At most 30 s for the file to reach 300 kB, looked at every 50 ms.
  for _ in $(seq 600); do
    [ "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -ge 300000 ] && break
    sleep 0.05
  done
  printf '\003'
  # The terminal stays open until the program has ended (at most 30 s more).
  for _ in $(seq 600); do [ -f "$work/ctrlc.done" ] && break; sleep 0.05; done
}
set +e
type_ctrl_c | script -qc "trap : INT; $line; echo \$? >$(printf %q "$work/ctrlc.status"); touch $(printf %q "$work/ctrlc.done")" \
  /dev/null >/dev/null
set -e
status=$(cat "$work/ctrlc.status" 2>/dev/null || echo none)
size=$(stat -c %s "$work/out/ctrlc/Slow.mp4" 2>/dev/null || echo 0)
if [ "$status" = 130 ] && grep -q "the partial file is kept: .*Slow.mp4" "$work/ctrlc.err" &&
     [ "$size" -gt 0 ] && [ "$size" -lt 8000024 ]; then
  pass "Ctrl+C: exit code 130, the partial file kept ($size bytes)"
else
  fail "Ctrl+C (exit code $status, $size bytes)"; cat "$work/ctrlc.err"
fi

echo "windows cli e2e: $failed failed"
[ "$failed" -eq 0 ]
