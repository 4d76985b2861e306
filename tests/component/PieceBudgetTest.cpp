// The pieces a starting task encodes its sound in: the cores shared among the tasks that can
// actually run at once, never among workers that have nothing to do.
#include "component/PieceBudget.h"

#include <gtest/gtest.h>

TEST(PieceBudget, CoresSharedAmongTheTasksThatCanRun) {
    struct TCase {
        int Cores, Workers, NotEnded, ToCome, Pieces;
    };
    const TCase cases[] = {
        // A batch of 1, 2 and 3 files with --jobs 2, as its first task starts.
        {2, 2, 1, 0, 2},
        {2, 2, 1, 1, 1},
        {2, 2, 1, 2, 1},
        {8, 2, 1, 0, 8},
        {8, 2, 1, 1, 4},
        {8, 2, 1, 2, 4},
        // 3 files on 8 cores with a worker each: 2 pieces each; the last one left gets all.
        {8, 8, 1, 2, 2},
        {8, 8, 2, 0, 4},
        {8, 8, 1, 0, 8},
        // Not told how many come: every worker counts.
        {8, 2, 1, -1, 4},
        // Never less than one piece, whatever the numbers.
        {2, 4, 4, 0, 1},
        {1, 0, 0, 0, 1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TaskPieceBudget(c.Cores, c.Workers, {c.NotEnded, c.ToCome}), c.Pieces)
            << c.Cores << " cores, " << c.Workers << " workers, " << c.NotEnded << " not ended, "
            << c.ToCome << " to come";
}

// Pieces only on cores the machine's other work leaves idle, and one beside the busy ones.
TEST(PieceBudget, PiecesOnIdleCores) {
    struct TCase {
        int Budget, Cores, OtherRunning, Pieces;
    };
    const TCase cases[] = {
        {2, 2, 0, 2}, {2, 2, 1, 2}, {2, 2, 2, 1}, {2, 2, 10, 1}, {8, 8, 0, 8}, {8, 8, 6, 3},
        {4, 8, 6, 3}, {4, 8, 1, 4}, {1, 8, 0, 1}, {8, 8, 8, 1},  {0, 1, 0, 1}, {2, 2, -1, 2},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(PiecesOnIdleCores(c.Budget, c.Cores, c.OtherRunning), c.Pieces)
            << c.Budget << " budget, " << c.Cores << " cores, " << c.OtherRunning << " running";
}
