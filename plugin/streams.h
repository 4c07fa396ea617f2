// The module's output streams and its one setting.
#pragma once

#include <ostream>
#include <streambuf>

// Accepts and drops every character. No put area: each character goes
// through overflow, which counts it as written.
class NullBuffer_ORVAN : public std::streambuf {
public:
    ~NullBuffer_ORVAN() override;

protected:
    int_type overflow(int_type c) override;
};

// Text for the host's Results window. The module writes its own line ends
// and ends each line with std::endl, so each line is shown as written.
extern std::ostream ResultsStream;
// Drops everything written to it; always stays good.
extern std::ostream NullStream;
// The verbosity level: 0 at load and after every start-up, set by
// SetORVANverbosity.
extern int log_threshold;

// Where diagnostics go right now: std::cout when log_threshold >= 1, else
// NullStream. Ask at each write; the level can change between calls.
std::ostream& DiagnosticStream();
