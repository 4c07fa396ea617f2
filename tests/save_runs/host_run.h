// One run of the real orvanhost on a script, in a folder of its own, for
// the save tests: optionally killed at a step (see stop_at_step.cpp) or held
// to a file size limit.
#pragma once

#include <sys/resource.h>

#include <string>

struct HostRun {
    bool killed = false;  // ended by SIGKILL
    int status = -1;      // the exit status when it exited
    std::string out, err;
};

// Runs the orvanhost this build made, with its module, on `script` with
// `folder` as its working folder; its standard output and error go to
// files beside `script`. stopAt > 0 preloads the stop_at_step shim to kill it
// before that step in `folder`; fileLimit > 0 limits the size of the files
// it writes. A run that cannot be started is reported in err.
HostRun RunHost(const std::string& script, const std::string& folder, long stopAt = 0, rlim_t fileLimit = 0);

// Where orvanhost, the module or the shim is not there: which.
std::string MissingPrograms();

std::string ReadAll(const std::string& path);
bool WriteAll(const std::string& path, const std::string& bytes);
