// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Wrzuta resolver: the media address is built from the page's file key; for
// audio pages it is read from the file's XML description.

#include <string>

bool IsWrzutaUrl(const std::string& text);
std::string GetWrzutaKey(const std::string& pageUrl);
// The last "<fileId>" line of a description, without its tags; empty when none.
std::string FindWrzutaFileId(const std::string& descriptionText);
std::string GetWrzutaUrl(const std::string& pageUrl);
