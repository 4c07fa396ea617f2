// The 23 script functions with a valid call of each (small images, so a
// sweep of many calls stays quick) and the ways each kind of argument can
// be bad.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/app/host.h"
#include "tests/robustness/call_case.h"

namespace robust {

// Pixels of the valid images, made once per test with the module attached.
struct Kit {
    static constexpr uint32_t kPattern = 64;  // ring pattern, kPattern x kPattern
    std::vector<float> pattern;
    static constexpr uint32_t kPeakWidth = 160;  // peak profile, 4 lines
    std::vector<float> peak_profile;
    uint32_t peak_count = 0, point_count = 0;
    std::vector<float> peaks, points;           // as the peak search leaves them
    static constexpr uint32_t kRdfWidth = 150;  // RDF profile, 4 lines
    std::vector<float> rdf_profile, elements, rdf_input;
    std::string dir;       // a scratch folder of this test
    std::string workbook;  // bytes of a valid .xls with one exported profile
    std::string book;      // dir + "/book.xls": the export's file, reset per case
};

// Makes the kit; the host must have the module attached. Adds a gtest
// failure when a valid call does not give what the kit needs.
Kit MakeKit(orvanhost::HostProgram& host);

// A 4-byte real image from pixels (x fastest).
orvanhost::ImagePtr RealImage(uint32_t w, uint32_t h, const std::vector<float>& px);

struct Param {
    Kind kind;
    std::string role;  // what the argument means, e.g. "inner", "file"
};

struct FunctionSpec {
    std::string name;
    std::vector<Param> params;
    // A valid call: fresh images (and the export's file written) each time.
    std::function<CaseArgs(const Kit&)> valid;
};

// All 23, in registration order.
const std::vector<FunctionSpec>& Functions();
const FunctionSpec& Function(const std::string& name);

// One bad value for one argument: `kind` names the kind of bad input for
// the report (e.g. "not valid", "NaN", "empty").
struct Variant {
    std::string kind;
    std::function<void(Value&, const Kit&)> apply;
};

// The bad values an argument of this kind and role is tried with.
std::vector<Variant> VariantsFor(const Param& param, const Value& valid);

}  // namespace robust
