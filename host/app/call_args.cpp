#include "host/app/call_args.h"

namespace orvanhost {

Arg Arg::Number(double value) {
    Arg a(Kind::Number);
    a.number_ = value;
    return a;
}

Arg Arg::NumberRef(double* variable) {
    Arg a(Kind::NumberRef);
    a.number_ref_ = variable;
    return a;
}

Arg Arg::Image(orvanhost::Image* image) {
    Arg a(Kind::Image);
    a.image_ = image;
    return a;
}

Arg Arg::ImageSlot(ImagePtr* slot) {
    Arg a(Kind::ImageSlot);
    a.slot_ = slot;
    return a;
}

Arg Arg::Text(std::string text) {
    Arg a(Kind::Text);
    a.text_ = std::move(text);
    return a;
}

Arg Arg::String(StringPtr string) {
    Arg a(Kind::String);
    a.string_ = std::move(string);
    return a;
}

}  // namespace orvanhost
