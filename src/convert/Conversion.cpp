// Placeholder bodies until the conversion steps land.
#include "convert/Conversion.h"
TConversionNames ConversionNames(const TDownloadJob&, bool) { return {}; }
std::string AspectText(std::int32_t, std::int32_t) { return "16:9"; }
std::vector<std::string> BuildEncoderArgs(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&) { return {}; }
bool IsBannerLine(const std::string&) { return false; }
TConversionProgress TrimAndReadProgress(std::vector<std::string>&) { return {}; }
int ConversionPercent(std::int64_t, std::int32_t) { return 0; }
void WriteErrorLog(const std::string&, const std::vector<std::string>&) {}
