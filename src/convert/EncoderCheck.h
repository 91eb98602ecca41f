// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which encoders a conversion profile needs, and whether the installed ffmpeg
// has them: a profile whose encoder is missing would fail only after the download.

#include "convert/EncoderProfiles.h"

#include <set>
#include <string>
#include <vector>

// The encoders a profile's parameters name after -c:v, -c:a, -vcodec, -acodec,
// -codec:v or -codec:a ("copy" is none), in their order.
std::vector<std::string> ProfileEncoders(const std::string& params);

// The encoders "ffmpeg -hide_banner -encoders" lists. Asked once per ffmpeg: the
// answer is kept for its path and modification time. Empty when the program can't
// be run or lists nothing; then nothing counts as missing.
std::set<std::string> AvailableEncoders(const std::string& ffmpegPath);

// The first encoder the profile needs that is not available; "" when none is
// missing or the list of available ones is unknown (empty).
std::string MissingEncoder(const TEncoderProfile& profile, const std::set<std::string>& available);

// The hint of a profile that can't be used: "Needs the encoder X, which this
// ffmpeg lacks" in the language.
std::string MissingEncoderText(const std::string& encoder, bool polish);
