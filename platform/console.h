// The terminal that the command line writes to, and the arguments it is given.
#pragma once

#include <cstddef>

namespace platform {

// Makes the process's arguments UTF-8 (Windows hands them over in the ANSI
// code page, so they are taken again from the system in UTF-16) and, on
// Windows, lets a program started from a console write to it, in UTF-8, with
// escape sequences. Call first in main.
void PrepareConsole(int& argc, char**& argv);

// True when the standard error is a terminal, where a progress line that
// redraws itself can be shown.
bool StandardErrorIsTerminal();

// The width of that terminal in columns; 80 when it cannot be told.
size_t TerminalColumns();

// Calls `handler` on an interrupt (SIGINT or SIGTERM; Ctrl+C or Ctrl+Break on
// Windows). A reader of the output that goes away (kelvad --sync m s | head)
// does not end the process: its output is lost, the work goes on.
void CatchInterrupts(void (*handler)(int));

}  // namespace platform
