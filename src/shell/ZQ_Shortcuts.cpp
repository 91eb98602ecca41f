// Desktop entries.
#include "shell/ZQ_Shortcuts.h"
