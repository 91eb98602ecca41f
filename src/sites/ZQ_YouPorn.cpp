// Placeholder bodies until the resolver lands.
#include "sites/ZQ_YouPorn.h"
bool IsYouPornUrl(const std::string&) { return false; }
std::string FindYouPornMedia(const std::string&) { return {}; }
std::string GetYouPornUrl(const std::string&) { return {}; }
