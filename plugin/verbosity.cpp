#include <iostream>

#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/script_number.h"
#include "plugin/streams.h"

void SetORVANverbosity(float level) {
    // Framed although nothing here is expected to fail, so that a failing
    // Results window cannot throw into the host.
    orvan::RunFramed([&] {
        log_threshold = orvan::TruncateScriptNumber(level);
        ResultsStream << "set log_threshold to " << log_threshold << std::endl;
    });
}
