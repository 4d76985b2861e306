// Ctrl-C for soundpick-cli: the first request is counted for the main loop (which stops every
// task cleanly); the second ends the program at once, removing the files that the tasks which
// had not ended created (new outputs, incomplete or empty, and part files); a file that an
// output would have replaced is never touched.
#ifndef SOUNDPICK_CLI_INTERRUPT_H
#define SOUNDPICK_CLI_INTERRUPT_H

#include <filesystem>
#include <vector>

// Installs the SIGINT and SIGTERM handler.
void InstallInterruptHandler();
// Interrupt requests so far.
int InterruptRequests();
// The files to remove if the program is ended at once, by task index (empty: none); set before
// the run.
void SetPendingOutputs(const std::vector<std::filesystem::path>& outputs);
// A task's output is final (finished, stopped or failed): keep it.
void MarkOutputEnded(int index);

#endif
