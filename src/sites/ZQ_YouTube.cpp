// Placeholder bodies until the resolver lands.
#include "sites/ZQ_YouTube.h"
const std::string YouTubeWatchPrefix = "http://www.youtube.com/watch?v=";
const std::array<TYouTubeFormat, 6> YouTubeFormats = {{
    {"rbMP4_1080", "HD 1080p", true, 37, 6, "MP4_1080"},
    {"rbMP4_720", "HD 720p", true, 22, 5, "MP4_720"},
    {"rbMP4_360", "360p", true, 18, 4, "MP4_360"},
    {"rbFLV_480", "480p", false, 35, 3, "FLV_480"},
    {"rbFLV_360", "360p", false, 34, 2, "FLV_360"},
    {"rbFLV_240", "240p", false, 5, 1, "FLV_240"},
}};
const std::array<int, 6> YouTubeProbeOrder = {5, 34, 35, 18, 22, 37};
bool IsYouTubeUrl(const std::string&) { return false; }
std::string NormalizeYouTubeUrl(const std::string& url) { return url; }
std::string YouTubeFormatUrl(const std::string& pageUrl, int) { return pageUrl; }
std::string FindYouTubeStream(const std::string&, int) { return {}; }
TYT_MovieItem GetYouTubeMovie(const std::string&, int) { return {}; }
TYT_Info_NEW GetYouTubeFormats(const std::string&) { return {}; }
