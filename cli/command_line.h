// Kelvad without its window, for scripts and schedules: the same Start request
// as the dialog, in Just Do It mode or as a dry run, with its messages on the
// standard error. It needs no display and never touches kelvad.ini.
#pragma once

// Exit statuses of the command line.
enum : int {
    EXIT_IN_LINE = 0,      // the slave is in line with the master (or a dry run ended)
    EXIT_STEP_FAILED = 1,  // a step of the plan failed; what was done stays done
    EXIT_REFUSED = 2,      // refused before anything changed (usage, the roots, an empty master)
    EXIT_INTERRUPTED = 130,  // SIGINT or SIGTERM: stopped before the next change
};

// True when the arguments ask for the command line rather than the dialog:
// there are any.
bool WantsCommandLine(int argc, char** argv);

// Runs the command line and returns the exit status.
int RunCommandLine(int argc, char** argv);
