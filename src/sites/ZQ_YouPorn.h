// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The YouPorn resolver: the media address passed to encodeURIComponent in the page.

#include <string>

bool IsYouPornUrl(const std::string& text);
// The address cut out of the first line that passes one to encodeURIComponent.
std::string FindYouPornMedia(const std::string& pageText);
std::string GetYouPornUrl(const std::string& pageUrl);
