// Placeholder bodies until process lookup lands.
#include "convert/ZQ_Processes.h"
std::string GetProcessExePath(int) { return {}; }
std::vector<int> ChildProcessesOf(int) { return {}; }
bool TerminateApp(const std::string&) { return false; }
