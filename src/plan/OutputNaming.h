// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning a page or a local file into a proposed output file name, and an output
// path into one that is safe to write.

#include "app/ProgramValues.h"  // MediaExtensions
#include "system/OutputFiles.h"  // GetUniqueFileName
#include "sites/VideoSite.h"
#include "system/FileNames.h"  // SafeFileName and the title clean-up

#include <array>
#include <cstddef>
#include <string>

// A proposed file name (no directory) for a page; for a local file its full path.
// Whatever the page title holds, the result is one file name: no "/", not "."
// or "..", valid UTF-8, and short enough for the file system.
// For another page (vsWebPage): a media file's own name from its address, or the
// page engine's title and extension; empty when neither gives one.
std::string FileNameFromPage(const std::string& url, TVideoSite site);
// The name a media file's address gives: its last path element, decoded, safe,
// with the extension (no dot) appended when it has none.
std::string FileNameFromMediaAddress(const std::string& url, const std::string& extension);
// The same naming for a title already fetched: the title cleaned up, the
// extension appended (when the title gave a name), one safe file name.
std::string FileNameFromTitle(const std::string& rawTitle, const std::string& extension);

std::string CleanDoubledExtension(const std::string& path);
