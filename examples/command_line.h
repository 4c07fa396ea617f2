// The command line of make_sample_pattern.
#ifndef ORVAN_EXAMPLES_COMMAND_LINE_H
#define ORVAN_EXAMPLES_COMMAND_LINE_H

#include <string>

#include "sample_pattern.h"

struct Arguments {
    SampleOptions sample;
    std::string out = "sample";
    std::string kirkland;  // empty: the table beside the program
};

struct CommandLine {
    Arguments args;
    bool help = false;
    std::string error;  // a usage error, said in one line; empty when the line is good
};

extern const char kUsage[];
extern const char kOptionHelp[];

// Reads the options. Never exits and never throws std::invalid_argument: an
// unknown option, a word that is no option, a missing value, a value that is
// not a number or lies outside its range fills `error` with the option and,
// for a value, its range.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// data/kirkland.csv in the folder of the running program (the build copies
// the tree's table there), so a build works wherever it lies. Falls back to
// the relative path data/kirkland.csv when the program's path is unknown.
std::string DefaultKirklandTable();

#endif
