// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading a page as text for the resolvers: a client of its own, at most
// maxChunks reads of 1024 bytes, everything released before returning.

#include <string>

// The page's bytes as text. False (and an empty text) when it can't be opened.
bool ReadPageText(const std::string& url, int maxChunks, std::string& text);

// How many 1024-byte chunks a resolver reads of a page.
constexpr int ResolverPageChunks = 50;
