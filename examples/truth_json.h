// The known truth of a generated pattern, as JSON beside the image.
#ifndef ORVAN_EXAMPLES_TRUTH_JSON_H
#define ORVAN_EXAMPLES_TRUTH_JSON_H

#include <string>

#include "sample_pattern.h"

// Writes the geometry, background, beam stop and rings of `p` to `path`.
// Throws std::runtime_error ("cannot create PATH: reason", "write failed:
// PATH") when the file cannot be written whole.
void WriteTruth(const std::string& path, const SamplePattern& p, const SampleOptions& o);

// A number as the truth file writes it (%.10g).
std::string Num(double v);

#endif
