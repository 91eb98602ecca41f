// Placeholder bodies until the HTTP client lands.
#include "net/ZQ_Internet.h"

struct TInet::Transfer {};
TInet::TInet() = default;
TInet::~TInet() = default;
bool TInet::Open() { return false; }
bool TInet::OpenUrl(const std::string& url) { Url = url; return Open(); }
void TInet::Close() {}
bool TInet::ReadToStream(TMemoryStream*, int) { return false; }
bool TInet::DownloadToFile(const std::string&, int, std::int64_t, bool) { return false; }
std::string FetchPageTitle(const std::string&) { return {}; }
std::string ExtractTitle(const std::string&) { return {}; }
std::int64_t QueryContentLength(const std::string&) { return 0; }
std::string DetectMediaExtension(const std::string&, const std::string& def, bool) { return def; }
