// One run of the real orvanhost on a script, in a folder of its own, for
// the save tests: optionally killed at a step (see stop_at_step.cpp) or held
// to a file size limit.
#pragma once

#include <sys/resource.h>

#include <string>

struct HostRun {
    bool killed = false;    // ended by SIGKILL
    bool timedOut = false;  // killed by WaitHost, still running at its limit
    int status = -1;        // the exit status when it exited
    std::string out, err;
};

// Runs the orvanhost this build made, with its module, on `script` with
// `folder` as its working folder; its standard output and error go to
// files beside `script`. stopAt > 0 preloads the stop_at_step shim to kill it
// before that step in `folder`; fileLimit > 0 limits the size of the files
// it writes. A run that cannot be started is reported in err.
HostRun RunHost(const std::string& script, const std::string& folder, long stopAt = 0, rlim_t fileLimit = 0);

// The same in two halves, for runs side by side: StartHost runs it as
// `user` when not 0 (which needs root) and answers its process id (-1 when
// it cannot fork); WaitHost waits for it, at most `seconds` when not 0.
pid_t StartHost(const std::string& script, const std::string& folder, long stopAt = 0, rlim_t fileLimit = 0,
                uid_t user = 0);
HostRun WaitHost(pid_t child, const std::string& script, int seconds = 0);

// Where orvanhost, the module or the shim is not there: which.
std::string MissingPrograms();

std::string ReadAll(const std::string& path);
bool WriteAll(const std::string& path, const std::string& bytes);
