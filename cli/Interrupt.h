// Ctrl-C for soundpick-cli (and the same for SIGTERM and SIGHUP): the first request is counted
// for the main loop (which stops every task cleanly); the second ends the program at once,
// removing the files that the tasks which had not ended created (new outputs, incomplete or
// empty, and part files) while they are still the files created; a file that an output would
// have replaced, or that took a created file's name since, is never touched. A closed
// standard output (SIGPIPE) only ends the printing.
#ifndef SOUNDPICK_CLI_INTERRUPT_H
#define SOUNDPICK_CLI_INTERRUPT_H

#include "ffbind/FileIdentity.h"

#include <cstddef>
#include <filesystem>

// Installs the SIGINT, SIGTERM and SIGHUP handler and ignores SIGPIPE.
void InstallInterruptHandler();
// Interrupt requests so far.
int InterruptRequests();
// Forgets every recorded file and makes room for the files of count tasks; call before the run.
// Tasks added later get room as SetCreatedOutput records them.
void SetPendingOutputs(std::size_t count);
// The file a task created, with its identity as it was created: removed if the program is ended
// at once before the task ends, unless another file has taken its name since. Set once per task,
// from any one thread.
void SetCreatedOutput(int index, const std::filesystem::path& created,
                      const TFileIdentity& identity);
// A task's output is final (finished, stopped or failed): keep it.
void MarkOutputEnded(int index);

#endif
