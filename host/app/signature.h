// Parsing of script-function signature strings such as
// "float GuessCenter(BasicImage, float *, float *)".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvanhost {

enum class ResultKind { Void, Float, Double, Long, Boolean };

// How an argument reaches the handler (C type in brackets):
//   Image      BasicImage, RealImagePtr, ImageRef     borrowed image  [LinkImage *]
//   ImageSlot  ImageRef *   address of a variable's image slot  [LinkImage **]
//   Float      float        [float]            FloatRef   float *   [float *]
//   Double     double       [double]           DoubleRef  double *  [double *]
//   Long       long         [int32_t]          LongRef    long *    [int32_t *]
//   Boolean    Boolean      [uint8_t, 0 or 1]
//   String     host_string    borrowed host string  [LinkString *]
enum class ParamKind { Image, ImageSlot, Float, FloatRef, Double, DoubleRef, Long, LongRef, Boolean, String };

struct Signature {
    std::string text;  // as registered
    ResultKind result = ResultKind::Void;
    std::string name;
    std::vector<ParamKind> params;
    std::vector<std::string> param_types;  // as written, e.g. "RealImagePtr", "float *"
};

// Parses "<result> <name>(<type>, <type> ...)"; blanks are free around
// every token, "()" means no parameters. Throws std::invalid_argument with
// a message naming the problem and the text for anything else (unknown
// type, missing parenthesis, trailing text, empty parameter).
Signature ParseSignature(std::string_view text);

// "float", "ImageRef *", ... for messages.
const char* ToString(ParamKind kind);
const char* ToString(ResultKind kind);

// True for the kinds the handler may write through (ImageSlot, FloatRef,
// DoubleRef, LongRef): the caller must pass a variable.
bool IsOutParameter(ParamKind kind);

}  // namespace orvanhost
