// One script-function call with everything it may touch recorded before
// and compared after: the pixels, type, size, references and locks of every
// image, the script's numbers, the image variables and the files it names.
//
//   robust::CaseArgs args = ...;                 // values in signature order
//   robust::Outcome o = robust::RunCase(host, "RefineCenter", args, {file});
//   EXPECT_EQ(o.kind, robust::OutcomeKind::Message);
//
// RunCase adds gtest failures for what must hold after any call: no lock
// left on an image, the references of the script's images as before, host
// strings all released, one Results line at most for a refusal, and, when
// the call refused (a caught exception, a refusal message of the function's
// own, or a host error), nothing changed.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/app/host.h"
#include "tests/plugin/capture_stdout.h"

namespace robust {

enum class Kind { Image, Slot, Float, FloatRef, String };

// One argument of a call.
struct Value {
    Kind kind = Kind::Float;
    orvanhost::ImagePtr image;  // Image: the image (null: not valid); Slot: what the variable holds
    double number = 0;          // Float, FloatRef
    std::string text;           // String
};
using CaseArgs = std::vector<Value>;

inline Value ImageValue(orvanhost::ImagePtr image) { return {Kind::Image, std::move(image), 0, {}}; }
inline Value SlotValue(orvanhost::ImagePtr image) { return {Kind::Slot, std::move(image), 0, {}}; }
inline Value FloatValue(double v) { return {Kind::Float, {}, v, {}}; }
inline Value FloatRefValue(double v) { return {Kind::FloatRef, {}, v, {}}; }
inline Value StringValue(std::string s) { return {Kind::String, {}, 0, std::move(s)}; }

// What a call came back with.
enum class OutcomeKind {
    Accepted,  // no refusal of any kind
    Refused,   // one Results line "exception caught: ..."
    Message,   // a refusal text of the function's own (radius check, sector angles)
    HostError  // the handler reported a host error
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::Accepted;
    std::string results;  // the Results text of the call
    int host_error = 0;   // its code, for HostError
    std::optional<double> value;
};

inline const char* Name(OutcomeKind k) {
    switch (k) {
        case OutcomeKind::Accepted: return "accepted";
        case OutcomeKind::Refused: return "exception caught";
        case OutcomeKind::Message: return "refusal message";
        case OutcomeKind::HostError: return "host error";
    }
    return "?";
}

// The refusal texts the functions write themselves.
constexpr char kBadRadii[] = "Bad input for inner and outer radius!\n";
constexpr char kStartAngle[] =
    "ERROR! The starting angle is negative. \n Please provide angle values in the interval [0,2pi]. \n";
constexpr char kEndAngle[] =
    "ERROR! The ending angle is larger than 2pi. \n Please provide angle values in the interval [0,2pi]. \n";

inline std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace detail {

struct ImageState {
    orvanhost::Image* image = nullptr;
    orvanhost::DataType type{};
    std::vector<uint32_t> dims;
    std::string bytes;
    long refs = 0;
};

inline ImageState Record(orvanhost::Image* image) {
    ImageState s;
    s.image = image;
    if (!image) return s;
    s.type = image->Type();
    for (uint32_t d = 0; d < image->NumDimensions(); ++d) s.dims.push_back(image->DimensionSize(d));
    s.bytes.assign(static_cast<const char*>(image->Data()), image->ByteCount());
    s.refs = image->RefCount();
    return s;
}

inline bool SamePixels(const ImageState& s, const orvanhost::Image* image) {
    if (!image) return s.image == nullptr;
    return image == s.image && image->Type() == s.type && image->ByteCount() == s.bytes.size() &&
           std::memcmp(image->Data(), s.bytes.data(), s.bytes.size()) == 0;
}

// The script's numbers travel as floats: compared as the handler saw them.
inline bool SameNumber(double a, double b) {
    const float fa = static_cast<float>(a), fb = static_cast<float>(b);
    return (std::isnan(fa) && std::isnan(fb)) || std::memcmp(&fa, &fb, sizeof fa) == 0;
}

}  // namespace detail

struct CaseOptions {
    // A refusal must leave images, numbers, variables and files as they were.
    // Off where the work may legitimately have begun (a host call failing
    // half-way): what was written before the failure stays written.
    bool unchanged_when_refused = true;
};

// Calls `function` with args through the host (standard output of the fits
// captured), checks what must hold after any call, and classifies the
// outcome. `files` are files the call may write: compared when it refused.
inline Outcome RunCase(orvanhost::HostProgram& host, const std::string& function, CaseArgs& args,
                       const std::vector<std::string>& files = {}, const CaseOptions& options = {}) {
    using detail::ImageState;
    std::vector<ImageState> before;
    // A reference of our own to each variable's image, so its release by the
    // handler can be counted and the image examined afterwards.
    std::vector<orvanhost::ImagePtr> old_slot_images;
    std::vector<std::optional<std::string>> file_before;
    for (const std::string& f : files) file_before.push_back(ReadFile(f));
    for (Value& v : args) {
        before.push_back(detail::Record(v.image.get()));
        if (v.kind == Kind::Slot) old_slot_images.push_back(v.image);
    }
    for (size_t i = 0; i < args.size(); ++i) before[i].refs = args[i].image ? args[i].image->RefCount() : 0;

    std::vector<orvanhost::Arg> call;
    for (Value& v : args) {
        switch (v.kind) {
            case Kind::Image: call.push_back(orvanhost::Arg::Image(v.image)); break;
            case Kind::Slot: call.push_back(orvanhost::Arg::ImageSlot(&v.image)); break;
            case Kind::Float: call.push_back(orvanhost::Arg::Number(v.number)); break;
            case Kind::FloatRef: call.push_back(orvanhost::Arg::NumberRef(&v.number)); break;
            case Kind::String: call.push_back(orvanhost::Arg::Text(v.text)); break;
        }
    }
    std::vector<double> numbers_before;
    for (const Value& v : args) numbers_before.push_back(v.number);

    host.ClearResults();
    const long strings_before = orvanhost::HostString::LiveCount();
    Outcome out;
    {
        orvan_test::CaptureStdout quiet;
        try {
            out.value = host.Call(function, call);
        } catch (const orvanhost::HostError& e) {
            out.kind = OutcomeKind::HostError;
            out.host_error = e.code();
        } catch (const orvanhost::CallError& e) {
            ADD_FAILURE() << "the host refused the arguments: " << e.what();
        }
    }
    out.results = host.ResultsText();
    host.ClearResults();
    EXPECT_EQ(orvanhost::HostString::LiveCount(), strings_before) << "host strings left alive";

    const std::string::size_type caught = out.results.find("exception caught: ");
    if (out.kind != OutcomeKind::HostError) {
        if (caught != std::string::npos) {
            out.kind = OutcomeKind::Refused;
            // One clear line, and nothing after it.
            const std::string line = out.results.substr(caught);
            EXPECT_GT(line.size(), std::strlen("exception caught: ") + 1) << line;
            EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
        } else if (out.results.find(kBadRadii) != std::string::npos ||
                   out.results.find(kStartAngle) != std::string::npos ||
                   out.results.find(kEndAngle) != std::string::npos) {
            out.kind = OutcomeKind::Message;
        }
    } else {
        EXPECT_EQ(caught, std::string::npos) << "a host error and a caught exception: " << out.results;
    }

    const bool refused = out.kind != OutcomeKind::Accepted && options.unchanged_when_refused;
    for (size_t i = 0; i < args.size(); ++i) {
        const Value& v = args[i];
        const ImageState& s = before[i];
        SCOPED_TRACE("argument " + std::to_string(i + 1));
        if (v.kind == Kind::Image && v.image) {
            EXPECT_EQ(v.image->LockCount(), 0) << "image left locked";
            EXPECT_EQ(v.image->RefCount(), s.refs) << "image references changed";
            if (refused) {
                EXPECT_TRUE(detail::SamePixels(s, v.image.get())) << "image changed by a refused call";
            }
        } else if (v.kind == Kind::Slot) {
            if (v.image) {
                EXPECT_EQ(v.image->LockCount(), 0) << "new image left locked";
            }
            if (refused || v.image.get() == s.image) {
                EXPECT_EQ(v.image.get(), s.image) << "image variable changed by a refused call";
                EXPECT_TRUE(detail::SamePixels(s, v.image.get())) << "variable's image changed in place";
                if (s.image) {
                    EXPECT_EQ(s.image->RefCount(), s.refs);  // ours and the variable's
                }
            } else if (!v.image) {
                ADD_FAILURE() << "image variable emptied";
            } else {
                // A new image: the variable's reference only, and the old image
                // released exactly once.
                EXPECT_EQ(v.image->RefCount(), 1);
                EXPECT_EQ(v.image->Type(), orvanhost::DataType::Real4);
                if (s.image) {
                    EXPECT_EQ(s.image->RefCount(), s.refs - 1) << "old image not released exactly once";
                }
            }
        } else if (v.kind == Kind::FloatRef && refused) {
            EXPECT_TRUE(detail::SameNumber(v.number, numbers_before[i]))
                << "number changed by a refused call: " << numbers_before[i] << " -> " << v.number;
        }
    }
    for (const orvanhost::ImagePtr& old : old_slot_images) {
        if (old) {
            EXPECT_EQ(old->LockCount(), 0);
        }
    }
    if (refused) {
        for (size_t f = 0; f < files.size(); ++f)
            EXPECT_TRUE(ReadFile(files[f]) == file_before[f]) << files[f] << " changed by a refused call";
    }
    return out;
}

}  // namespace robust
