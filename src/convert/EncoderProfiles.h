// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Conversion profiles from bmt_encoder_profiles.ini: one section per profile
// with "DisplayName", "Params", "EncExt" and "Ext"; section "MAIN" holds
// "DefaultVideoBitrate".

#include <string>
#include <vector>

struct TEncoderProfile {
    std::string Section;      // the section's name in the file
    std::string DisplayName;  // at most 250 bytes
    std::string Params;       // at most 250 bytes
    std::string EncExt;       // at most 10 bytes, "-" for none
    std::string Ext;          // at most 10 bytes, "-" for none
};

// The usable profiles in file order; empty for a missing or unreadable file.
std::vector<TEncoderProfile> ReadEncoderProfiles(const std::string& fileName);
// "DefaultVideoBitrate" of section "MAIN"; "280k" when the file or key is missing.
std::string ReadDefaultVideoBitrate(const std::string& fileName);

// The profile of that section name, else of that display name (letter case and
// surrounding blanks ignored); nullptr when none has it.
const TEncoderProfile* FindProfileNamed(const std::vector<TEncoderProfile>& profiles, const std::string& name);
