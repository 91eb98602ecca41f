// Placeholder bodies until site recognition lands.
#include "sites/VideoSite.h"
TVideoSite DetectVideoSite(const std::string&) { return vsNone; }
std::string CleanUpClipboardUrl(const std::string& text, TVideoSite) { return text; }
std::string DefaultSiteExtension(TVideoSite, bool) { return {}; }
