// Starting programs in a session of their own and watching them end.
#pragma once

#include <sys/types.h>

#include <string>

namespace pelmo::platform {

// Starts `program` (a path) without arguments, in a new session, with
// `folder` as its current folder (empty: this process's current folder),
// this process's environment, no blocked signals and default signal actions.
// Returns the process id, or -1 with the reason in `error` (errno value)
// when the start is refused (missing file, no permission, not a program).
pid_t StartProcess(const std::string& program, const std::string& folder = std::string(),
                   int* error = nullptr);

enum class ProcessStatus { Running, Ended, Unknown };

// Looks once, without waiting, whether a child started by StartProcess still
// runs. A child that has ended is collected; later calls answer Unknown.
ProcessStatus PollProcess(pid_t pid, int* exitCode = nullptr);

// Stops watching a child started by StartProcess that may still run: it is
// collected in the background whenever it ends. PollProcess must not be
// called for it afterwards.
void CollectWhenEnded(pid_t pid);

}  // namespace pelmo::platform
