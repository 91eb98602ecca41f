// Placeholder bodies until the media probe lands.
#include "convert/MediaProbe.h"
void ProbeMediaFile(const std::string& file, const std::string&, TMediaInfo& info) { info = TMediaInfo{}; info.FileName = file; }
void ParseProbeOutput(const std::vector<std::string>&, TMediaInfo&) {}
double TimeTextToSeconds(const std::string&) { return 0; }
