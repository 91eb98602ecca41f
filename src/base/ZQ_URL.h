// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Address helpers: percent decoding and splitting an address into its parts.

#include <cstdint>
#include <string>

// "%" and two hexadecimal digits become that byte, "+" a blank; bad escapes stay.
std::string UrlDecode(const std::string& text);

// Splits "scheme://host/path" into "scheme://", "host" and "path" (no leading "/").
void SplitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& path);

// Hexadecimal text (one trailing "H" allowed) to a number; any non-digit gives 0.
std::int64_t HexToInt64(const std::string& text);
