// Where a run keeps what it takes away from the slave, made ready before the
// plan is shown: the keeper the options ask for, or the reason none can be had
// without a copy, which refuses the run before anything changes.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "exec/keeper.h"
#include "sync/start_request.h"

struct PreparedKeeping {
    // Null in a dry run that has no slave yet or keeps in the Trash: a dry run
    // makes nothing, not even the Trash.
    std::unique_ptr<Keeper> keeper;
    std::string where;    // Keeper::Where
    std::string refusal;  // what refuses the run; "" when it may go on
};

// The keeper of `r.keeping` for the run that started at `start`, beneath the
// open `slave` (null when a dry run has none), judged against `master`: a
// versions directory given must be open, on the slave's file system and
// outside both trees; the Trash must take entries of the slave by a rename.
PreparedKeeping PrepareKeeping(const StartRequest& r, platform::TreeRoot* slave,
                               platform::TreeRoot& master, std::time_t start);
