// Placeholder bodies until profiles land.
#include "convert/EncoderProfiles.h"
std::vector<TEncoderProfile> ReadEncoderProfiles(const std::string&) { return {}; }
std::string ReadDefaultVideoBitrate(const std::string&) { return "280k"; }
