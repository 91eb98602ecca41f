// Placeholder bodies until output naming lands.
#include "ui/OutputNaming.h"
const std::array<const char*, 10> MediaExtensions = {"mp4", "avi", "wmv", "mp3", "wav", "flac", "voc", "ac3", "aac", "wma"};
std::string FileNameFromPage(const std::string&, TVideoSite) { return "_"; }
std::string SanitizeTitle(const std::string& text) { return text; }
std::string DecodeUtf8Title(const std::string& rawTitle) { return rawTitle; }
std::string DropRepeatedExtension(const std::string& name) { return name; }
std::string FinishFileName(const std::string& name) { return name; }
std::string CleanDoubledExtension(const std::string& path) { return path; }
std::string GetUniqueFileName(const std::string& path) { return path; }
