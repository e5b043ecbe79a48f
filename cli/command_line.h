// Kelvad without its window, for scripts and schedules: the same Start request
// as the dialog, in Just Do It mode or as a dry run, with its messages on the
// standard error. It needs no display and never touches kelvad.ini.
#pragma once

// Exit statuses of the command line.
enum ExitStatus : int {
    // The slave is in line with the master (or a dry run ended).
    kExitInLine = 0,
    // A step failed or a directory could not be read; what was done stays done.
    kExitStepFailed = 1,
    // Refused before anything changed: usage, the roots, an empty master, the guard.
    kExitRefused = 2,
    // Nothing failed, but master files vanished (deleted since the scan) and
    // were not copied.
    kExitVanished = 24,
    // SIGINT or SIGTERM: stopped before the next change.
    kExitInterrupted = 130,
};

// True when the arguments ask for the command line rather than the dialog:
// there are any.
bool WantsCommandLine(int argc, char** argv);

// Runs the command line and returns the exit status.
int RunCommandLine(int argc, char** argv);
