#pragma once
// Turning a page or a local file into a proposed output file name, and an output
// path into one that is safe to write.

#include "sites/VideoSite.h"

#include <array>
#include <string>

extern const std::array<const char*, 10> MediaExtensions;  // "mp4", "avi", ...

// A proposed file name (no directory) for a page; for a local file its full path.
// Whatever the page title holds, the result is one file name: no "/", not "."
// or "..", valid UTF-8, and short enough for the file system.
std::string FileNameFromPage(const std::string& url, TVideoSite site);

std::string SanitizeTitle(const std::string& text);
std::string DecodeUtf8Title(const std::string& rawTitle);
std::string DropRepeatedExtension(const std::string& name);
std::string FinishFileName(const std::string& name);
std::string CleanDoubledExtension(const std::string& path);
std::string GetUniqueFileName(const std::string& path);
