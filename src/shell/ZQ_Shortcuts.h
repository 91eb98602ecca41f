#pragma once
// The program's desktop entry on the desktop and in the applications menu.
