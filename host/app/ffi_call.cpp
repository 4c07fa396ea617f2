// HostProgram::Call: checks the arguments against the parsed signature and calls
// the handler through libffi.
#include <ffi.h>

#include <cmath>
#include <limits>

#include "host/app/host.h"

namespace orvanhost {

namespace {

// What one argument becomes for the duration of the call.
struct Storage {
    float f = 0;
    double d = 0;
    int32_t l = 0;
    uint8_t b = 0;
    void* p = nullptr;          // image, string or the address of one of the above
    LinkImage* slot = nullptr;  // image held by an ImageRef * variable
    StringPtr text;             // host string made for a Text argument
};

std::string Where(const Signature& sig, std::size_t i) {
    return "argument " + std::to_string(i + 1) + " of " + sig.name;
}

float ToFloatArg(double v) {
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

int32_t ToLongArg(double v, const Signature& sig, std::size_t i) {
    const double t = std::trunc(v);
    if (std::isnan(v) || t < -2147483648.0 || t > 2147483647.0)
        throw CallError(Where(sig, i) + ": " + std::to_string(v) + " does not fit a long");
    return static_cast<int32_t>(t);
}

ffi_type* FfiType(ParamKind k) {
    switch (k) {
        case ParamKind::Float: return &ffi_type_float;
        case ParamKind::Double: return &ffi_type_double;
        case ParamKind::Long: return &ffi_type_sint32;
        case ParamKind::Boolean: return &ffi_type_uint8;
        default: return &ffi_type_pointer;
    }
}

ffi_type* FfiType(ResultKind k) {
    switch (k) {
        case ResultKind::Void: return &ffi_type_void;
        case ResultKind::Float: return &ffi_type_float;
        case ResultKind::Double: return &ffi_type_double;
        case ResultKind::Long: return &ffi_type_sint32;
        case ResultKind::Boolean: return &ffi_type_uint8;
    }
    return &ffi_type_void;
}

bool IsNumberKind(ParamKind k) {
    return k == ParamKind::Float || k == ParamKind::Double || k == ParamKind::Long || k == ParamKind::Boolean;
}

bool IsNumberRefKind(ParamKind k) {
    return k == ParamKind::FloatRef || k == ParamKind::DoubleRef || k == ParamKind::LongRef;
}

// A number parameter (float, double, long, Boolean) takes its value.
void* NumberArgument(const Signature& sig, std::size_t i, const Arg& a, const std::string& want, Storage& s) {
    if (a.kind() != Arg::Kind::Number) throw CallError(Where(sig, i) + want);
    const double v = a.number();
    switch (sig.params[i]) {
        case ParamKind::Float: s.f = ToFloatArg(v); return &s.f;
        case ParamKind::Double: s.d = v; return &s.d;
        case ParamKind::Long: s.l = ToLongArg(v, sig, i); return &s.l;
        default: s.b = v != 0 ? 1 : 0; return &s.b;
    }
}

// A number pointer parameter points at a copy of the variable's value in
// the parameter's type, written back after the call.
void* NumberRefArgument(const Signature& sig, std::size_t i, const Arg& a, const std::string& want, Storage& s) {
    if (a.kind() != Arg::Kind::NumberRef || !a.number_ref())
        throw CallError(Where(sig, i) + want + ", a number variable");
    const double v = *a.number_ref();
    switch (sig.params[i]) {
        case ParamKind::FloatRef:
            s.f = ToFloatArg(v);
            s.p = &s.f;
            break;
        case ParamKind::DoubleRef:
            s.d = v;
            s.p = &s.d;
            break;
        default:
            s.l = ToLongArg(v, sig, i);
            s.p = &s.l;
            break;
    }
    return &s.p;
}

// A string parameter takes a host string, made here from a script's text.
void* StringArgument(const Signature& sig, std::size_t i, const Arg& a, const std::string& want, Storage& s) {
    if (a.kind() == Arg::Kind::Text) {
        s.text = StringPtr(a.text());
        s.p = ToLink(s.text.get());
    } else if (a.kind() == Arg::Kind::String) {
        s.p = ToLink(a.string().get());
    } else {
        throw CallError(Where(sig, i) + want);
    }
    return &s.p;
}

// Argument i in the form its parameter takes: fills s and returns the
// address libffi reads the value from. Throws CallError when it does not fit.
void* PrepareArgument(const Signature& sig, std::size_t i, const Arg& a, Storage& s) {
    const ParamKind k = sig.params[i];
    const std::string want = std::string(" must be ") + ToString(k) + " (" + sig.param_types[i] + ")";
    if (IsNumberKind(k)) return NumberArgument(sig, i, a, want, s);
    if (IsNumberRefKind(k)) return NumberRefArgument(sig, i, a, want, s);
    if (k == ParamKind::Image) {
        if (a.kind() != Arg::Kind::Image) throw CallError(Where(sig, i) + want);
        s.p = ToLink(a.image());
        return &s.p;
    }
    if (k == ParamKind::ImageSlot) {
        if (a.kind() != Arg::Kind::ImageSlot || !a.slot())
            throw CallError(Where(sig, i) + want + ", an image variable");
        s.p = &s.slot;
        return &s.p;
    }
    return StringArgument(sig, i, a, want, s);
}

// What the handler returned, as libffi writes it.
union ReturnValue {
    ffi_arg integer;
    float f;
    double d;
};

// Out-parameters back into the script's variables: the images the slots
// held during the call and the numbers the handler wrote.
void WriteBack(const Signature& sig, const std::vector<Storage>& store, const std::vector<Arg>& args) {
    for (std::size_t i = 0; i < store.size(); ++i) {
        const Storage& s = store[i];
        switch (sig.params[i]) {
            case ParamKind::ImageSlot: *args[i].slot() = ImagePtr::Adopt(FromLink(s.slot)); break;
            case ParamKind::FloatRef: *args[i].number_ref() = s.f; break;
            case ParamKind::DoubleRef: *args[i].number_ref() = s.d; break;
            case ParamKind::LongRef: *args[i].number_ref() = s.l; break;
            default: break;
        }
    }
}

std::optional<double> ResultOf(ResultKind kind, const ReturnValue& r) {
    switch (kind) {
        case ResultKind::Void: return std::nullopt;
        case ResultKind::Float: return r.f;
        case ResultKind::Double: return r.d;
        case ResultKind::Long: return static_cast<double>(static_cast<int32_t>(r.integer));
        case ResultKind::Boolean: return (r.integer & 0xff) != 0 ? 1.0 : 0.0;
    }
    return std::nullopt;
}

}  // namespace

std::optional<double> HostProgram::Call(const std::string& name, const std::vector<Arg>& args) {
    const FunctionEntry* entry = library_.Find(name);
    if (!entry) throw CallError("unknown function " + name);
    const Signature& sig = entry->signature;
    const std::size_t n = sig.params.size();
    if (args.size() != n)
        throw CallError(sig.name + " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s") + ", not " +
                        std::to_string(args.size()));

    std::vector<Storage> store(n);
    std::vector<ffi_type*> types(n);
    std::vector<void*> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        types[i] = FfiType(sig.params[i]);
        values[i] = PrepareArgument(sig, i, args[i], store[i]);
    }

    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(n), FfiType(sig.result),
                     n ? types.data() : nullptr) != FFI_OK)
        throw CallError("cannot prepare the call of " + sig.name);

    // The slots' images move into the call; nothing below throws until they
    // are back in their variables.
    for (std::size_t i = 0; i < n; ++i)
        if (sig.params[i] == ParamKind::ImageSlot) store[i].slot = ToLink(args[i].slot()->release());

    ReturnValue rvalue;
    rvalue.d = 0;
    ffi_call(&cif, entry->handler, &rvalue, n ? values.data() : nullptr);
    WriteBack(sig, store, args);

    ThrowPendingError();
    return ResultOf(sig.result, rvalue);
}

}  // namespace orvanhost
