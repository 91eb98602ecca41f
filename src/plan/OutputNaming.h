// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning a page or a local file into a proposed output file name, and an output
// path into one that is safe to write.

#include "app/ProgramValues.h"  // MediaExtensions
#include "system/OutputFiles.h"  // GetUniqueFileName
#include "sites/VideoSite.h"

#include <array>
#include <cstddef>
#include <string>


// The longest file name FileNameFromPage proposes, in bytes. It leaves room
// below the file system's 255 for the extension the dialog appends to a
// YouTube name and for the "_NN" of a numbered variant.
constexpr std::size_t MaxProposedNameBytes = 240;

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

std::string SanitizeTitle(const std::string& text);
std::string DecodeUtf8Title(const std::string& rawTitle);
std::string DropRepeatedExtension(const std::string& name);
std::string FinishFileName(const std::string& name);
std::string CleanDoubledExtension(const std::string& path);

// Windows-1250 text as UTF-8; bytes the code page leaves undefined become "?".
std::string Cp1250ToUtf8(const std::string& text);
// The text itself when it is valid UTF-8, else read as Windows-1250.
std::string EnsureUtf8(const std::string& text);
// Makes a name one harmless file name: valid UTF-8, no "/", no control
// characters, no leading "." (so never "." or ".." and never hidden), not
// empty, and at most maxBytes long, cut at a character boundary in front of
// its extension.
std::string SafeFileName(const std::string& name, std::size_t maxBytes = MaxProposedNameBytes);
