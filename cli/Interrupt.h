// Ctrl-C for soundpick-cli: the first request is counted for the main loop (which stops every
// task cleanly); the second ends the program at once, removing the outputs of tasks that had not
// ended (they are incomplete or empty).
#ifndef SOUNDPICK_CLI_INTERRUPT_H
#define SOUNDPICK_CLI_INTERRUPT_H

#include <filesystem>
#include <vector>

// Installs the SIGINT and SIGTERM handler.
void InstallInterruptHandler();
// Interrupt requests so far.
int InterruptRequests();
// The outputs to remove if the program is ended at once, by task index; set before the run.
void SetPendingOutputs(const std::vector<std::filesystem::path>& outputs);
// A task's output is final (finished, stopped or failed): keep it.
void MarkOutputEnded(int index);

#endif
