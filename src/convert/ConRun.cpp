// Placeholder bodies until the console runner lands.
#include "convert/ConRun.h"
TConsoleLineCollector::TConsoleLineCollector(std::vector<std::string>* lines, TConsoleLineEvent onLine, int pid)
    : lines_(lines), onLine_(std::move(onLine)), pid_(pid) {}
void TConsoleLineCollector::Feed(const char*, std::size_t) {}
void TConsoleLineCollector::Finish() {}
void TConsoleLineCollector::Complete() {}
std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>&, std::vector<std::string>*, const TConsoleLineEvent&)
{ throw EConsoleError("Could not find file " + program); }
std::uint32_t RunConsoleApp(const std::string& program, const std::string&, std::vector<std::string>*, const TConsoleLineEvent&)
{ throw EConsoleError("Could not find file " + program); }
