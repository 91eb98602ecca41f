// Placeholder bodies until the resolver lands.
#include "sites/ZQ_Wrzuta.h"
bool IsWrzutaUrl(const std::string&) { return false; }
std::string GetWrzutaKey(const std::string&) { return {}; }
std::string FindWrzutaFileId(const std::string&) { return {}; }
std::string GetWrzutaUrl(const std::string&) { return {}; }
