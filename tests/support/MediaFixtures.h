// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Media for the page engine's tests, made with the real ffmpeg: a short clip,
// an HLS playlist and a DASH manifest cut from it, served by the test server.

#include "support/TestHttpServer.h"

#include <string>
#include <vector>

namespace fixtures {

// A clip of that many seconds: H.264 video of that size ("160x120") and AAC
// audio in MP4. Empty when ffmpeg could not make it.
std::string MakeClip(const std::string& path, int seconds, const std::string& size = "160x120");
// dir/index.m3u8 and its one-second segments.
bool MakeHls(const std::string& clip, const std::string& dir);
// dir/manifest.mpd with the video and the audio in adaptation sets of their own.
bool MakeDash(const std::string& clip, const std::string& dir);

// Serves every file of dir under prefix ("/hls/" + name), each response waiting
// paceMs after its body when that is > 0.
void ServeFiles(testhttp::TestHttpServer& server, const std::string& prefix, const std::string& dir, int paceMs = 0);

// The kinds of stream ffprobe finds in a file, in order: "video", "audio".
std::vector<std::string> StreamTypes(const std::string& file);

// Process ids whose working directory is dir or inside it.
std::vector<int> ProcessesWorkingIn(const std::string& dir);
// Process ids that were started with this argument.
std::vector<int> ProcessesWithArgument(const std::string& argument);

// The names in a folder (no "." and ".."), sorted.
std::vector<std::string> FolderEntries(const std::string& dir);

} // namespace fixtures
