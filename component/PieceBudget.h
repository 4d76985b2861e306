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

// The pieces of a budget the machine's load leaves worth taking: one on each core no other
// thread wants, and one more beside the busy ones (it gets its share of them, as one encoder
// would); a single piece when no core is idle, where pieces cost more than they gain. At least 1.
int PiecesOnIdleCores(int budget, int cores, int otherRunning);

#endif
