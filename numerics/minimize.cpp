#include "numerics/minimize.h"

double Minimize::Evaluate(const double*, int) { return 0.0; }
