// How many pieces a starting task encodes its sound in: the cores shared among the tasks that
// can actually run at once.
#ifndef SOUNDPICK_COMPONENT_PIECEBUDGET_H
#define SOUNDPICK_COMPONENT_PIECEBUDGET_H

// The tasks a run has: those not ended yet (started or waiting) and, for a run that takes
// tasks as it goes, those its caller said are still to come (negative: not said).
struct TTasksLeft {
    int NotEnded = 0;
    int ToCome = 0;
};

// The cores this process may run on (its affinity; at least 1).
int UsableCores();

// cores shared among the tasks running beside each other: at most workers, and no more than
// the tasks left (every worker when more may come and how many is not said). At least 1.
int TaskPieceBudget(int cores, int workers, const TTasksLeft& tasks);

#endif
