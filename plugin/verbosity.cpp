#include <climits>
#include <cmath>
#include <iostream>

#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/streams.h"

namespace {

// Truncated toward zero; not-a-number and values outside the 32-bit range
// give INT_MIN, as the processor's own conversion would, without the
// undefined behaviour of converting them in C++.
int LevelToThreshold(float level) {
  const double v = level;
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT_MIN;
  return static_cast<int>(std::trunc(v));
}

}  // namespace

void SetORVANverbosity(float level) {
  // Framed although nothing here is expected to fail, so that a failing
  // Results window cannot throw into the host.
  orvan::RunFramed([&] {
    log_threshold = LevelToThreshold(level);
    ResultsStream << "set log_threshold to " << log_threshold << std::endl;
  });
}
