// Arguments of a script-function call made through the host.
#pragma once

#include <string>

#include "host/app/counted_string.h"
#include "host/app/image.h"

namespace orvanhost {

// One argument; it must match the parameter kind of the signature:
//   Number     -> Float, Double, Long, Boolean      (by value)
//   NumberRef  -> FloatRef, DoubleRef, LongRef      (read, written back after the call)
//   Image      -> Image                              (borrowed; null = invalid image)
//   ImageSlot  -> ImageSlot   (the handler may release the slot's image and
//                              store a new one; the slot owns what it holds)
//   Text       -> String      (a new host string made for the call)
//   String     -> String      (an existing host string, borrowed)
// Pointers given to NumberRef, Image and ImageSlot must outlive the call.
class Arg {
public:
    enum class Kind { Number, NumberRef, Image, ImageSlot, Text, String };

    static Arg Number(double value);
    static Arg NumberRef(double* variable);
    static Arg Image(orvanhost::Image* image);
    static Arg Image(const ImagePtr& image) { return Image(image.get()); }
    static Arg ImageSlot(ImagePtr* slot);
    static Arg Text(std::string text);
    static Arg String(StringPtr string);

    Kind kind() const { return kind_; }
    double number() const { return number_; }
    double* number_ref() const { return number_ref_; }
    orvanhost::Image* image() const { return image_; }
    ImagePtr* slot() const { return slot_; }
    const std::string& text() const { return text_; }
    const StringPtr& string() const { return string_; }

private:
    explicit Arg(Kind kind) : kind_(kind) {}
    Kind kind_;
    double number_ = 0;
    double* number_ref_ = nullptr;
    orvanhost::Image* image_ = nullptr;
    ImagePtr* slot_ = nullptr;
    std::string text_;
    StringPtr string_;
};

}  // namespace orvanhost
