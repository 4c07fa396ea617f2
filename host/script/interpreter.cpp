#include "host/script/interpreter.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "host/app/tiff_io.h"

namespace orvanhost {

std::string NumberText(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

namespace {

const char* KindName(Value::Kind k) {
    switch (k) {
        case Value::Kind::Number: return "number";
        case Value::Kind::String: return "string";
        case Value::Kind::Image: return "image";
        case Value::Kind::None: return "nothing";
    }
    return "?";
}

Value::Kind KindOf(VarType t) {
    switch (t) {
        case VarType::Number: return Value::Kind::Number;
        case VarType::String: return Value::Kind::String;
        case VarType::Image: return Value::Kind::Image;
    }
    return Value::Kind::None;
}

std::string Ordinal(size_t i) { return "argument " + std::to_string(i + 1); }

// The file functions take zero-terminated names: a zero byte would cut the
// name to another file's. Throws ScriptError for such a name.
void RefuseZeroByte(const Expr& e, const std::string& path) {
    if (path.find('\0') != std::string::npos) throw ScriptError{e.line, e.text + ": the file name holds a zero byte"};
}

}  // namespace

void Interpreter::Run(const StmtList& script) {
    scopes_.assign(1, Scope());
    for (const auto& s : script) Exec(*s);
}

Value* Interpreter::Lookup(const std::string& name) {
    for (auto it = scopes_.rbegin(); it != scopes_.rend(); ++it) {
        auto v = it->find(name);
        if (v != it->end()) return &v->second;
    }
    return nullptr;
}

// Whatever a statement's work cannot allocate ends the script at its line.
void Interpreter::Exec(const Stmt& s) {
    try {
        ExecStatement(s);
    } catch (const std::bad_alloc&) {
        throw ScriptError{s.line, "out of memory"};
    }
}

void Interpreter::ExecStatement(const Stmt& s) {
    switch (s.kind) {
        case Stmt::Kind::Empty: return;
        case Stmt::Kind::Decl: Declare(s); return;
        case Stmt::Kind::Assign: Assign(s.name, s.op, *s.expr, s.line); return;
        case Stmt::Kind::Expr: Eval(*s.expr); return;
        case Stmt::Kind::Block:
            scopes_.emplace_back();
            try {
                for (const auto& b : s.body) Exec(*b);
            } catch (...) {
                scopes_.pop_back();
                throw;
            }
            scopes_.pop_back();
            return;
        case Stmt::Kind::If:
            for (const Branch& b : s.branches) {
                if (Truth(*b.condition)) {
                    Exec(*b.body);
                    return;
                }
            }
            if (s.else_body) Exec(*s.else_body);
            return;
        case Stmt::Kind::For:
            scopes_.emplace_back();  // a variable declared in the loop's start lives in the loop
            try {
                if (s.init) Exec(*s.init);
                while (!s.expr || Truth(*s.expr)) {
                    Exec(*s.loop_body);
                    if (s.step) Exec(*s.step);
                }
            } catch (...) {
                scopes_.pop_back();
                throw;
            }
            scopes_.pop_back();
            return;
    }
}

void Interpreter::Declare(const Stmt& s) {
    for (const Declarator& d : s.decls) {
        Scope& scope = scopes_.back();
        if (scope.count(d.name)) throw ScriptError{d.line, "'" + d.name + "' is already declared"};
        Value v;
        v.kind = KindOf(s.type);
        scope[d.name] = v;
        if (d.init) Assign(d.name, d.op, *d.init, d.line);
    }
}

void Interpreter::Assign(const std::string& name, Tok op, const Expr& e, int line) {
    Value* var = Lookup(name);
    if (!var) throw ScriptError{line, "unknown variable '" + name + "'"};
    if (var->kind == Value::Kind::Image) {
        if (op != Tok::RefAssign) throw ScriptError{line, "an image variable is assigned with ':=', not '='"};
        var->image = AnyImage(e, "the value of '" + name + "'");
        return;
    }
    if (op == Tok::RefAssign)
        throw ScriptError{line, "':=' assigns images; '" + name + "' is a " + KindName(var->kind)};
    Value v = Eval(e);
    if (v.kind != var->kind)
        throw ScriptError{line, std::string("cannot assign a ") + KindName(v.kind) + " to " + KindName(var->kind) +
                                    " variable '" + name + "'"};
    *var = std::move(v);
}

bool Interpreter::Truth(const Expr& e) { return Number(e, "a condition") != 0; }

double Interpreter::Number(const Expr& e, const std::string& what) {
    Value v = Eval(e);
    if (v.kind != Value::Kind::Number) throw ScriptError{e.line, what + " must be a number, not " + KindName(v.kind)};
    return v.number;
}

std::string Interpreter::String(const Expr& e, const std::string& what) {
    Value v = Eval(e);
    if (v.kind != Value::Kind::String) throw ScriptError{e.line, what + " must be a string, not " + KindName(v.kind)};
    return v.text;
}

ImagePtr Interpreter::AnyImage(const Expr& e, const std::string& what) {
    Value v = Eval(e);
    if (v.kind != Value::Kind::Image) throw ScriptError{e.line, what + " must be an image, not " + KindName(v.kind)};
    return v.image;
}

ImagePtr Interpreter::ValidImage(const Expr& e, const std::string& what) {
    ImagePtr p = AnyImage(e, what);
    if (!p) throw ScriptError{e.line, what + " is not a valid image"};
    return p;
}

uint32_t Interpreter::Index(const Expr& e, const std::string& what) {
    double v = Number(e, what);
    if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v))
        throw ScriptError{e.line, what + " must be a whole number from 0, not " + NumberText(v)};
    return static_cast<uint32_t>(v);
}

Value& Interpreter::Variable(const Expr& e, Value::Kind kind, const std::string& what) {
    if (e.kind != Expr::Kind::Var) throw ScriptError{e.line, what + " must be a " + KindName(kind) + " variable"};
    Value* v = Lookup(e.text);
    if (!v) throw ScriptError{e.line, "unknown variable '" + e.text + "'"};
    if (v->kind != kind)
        throw ScriptError{
            e.line, what + " must be a " + KindName(kind) + " variable; '" + e.text + "' is a " + KindName(v->kind)};
    return *v;
}

Value Interpreter::Eval(const Expr& e) {
    switch (e.kind) {
        case Expr::Kind::Number: return Value::Num(e.number);
        case Expr::Kind::String: return Value::Str(e.text);
        case Expr::Kind::Var: {
            Value* v = Lookup(e.text);
            if (!v) throw ScriptError{e.line, "unknown variable '" + e.text + "'"};
            return *v;
        }
        case Expr::Kind::Neg: return Value::Num(-Number(*e.args[0], "the operand of '-'"));
        case Expr::Kind::Binary: return EvalBinary(e);
        case Expr::Kind::Call: return Call(e);
    }
    throw ScriptError{e.line, "unknown expression"};
}

// Left to right, each operand evaluated just before its operator applies,
// as a tree of binary nodes would be; a loop, however long the chain.
Value Interpreter::EvalBinary(const Expr& e) {
    Value acc = Eval(*e.args[0]);
    for (size_t i = 1; i < e.args.size(); ++i) {
        Value r = Eval(*e.args[i]);
        Apply(e.ops[i - 1], &acc, r);
    }
    return acc;
}

void Interpreter::Apply(const Operator& o, Value* l, const Value& r) {
    if (o.op == Tok::Plus && (l->kind == Value::Kind::String || r.kind == Value::Kind::String)) {
        auto text = [&](const Value& v) -> std::string {
            if (v.kind == Value::Kind::String) return v.text;
            if (v.kind == Value::Kind::Number) return NumberText(v.number);
            throw ScriptError{o.line, std::string("cannot join a ") + KindName(v.kind) + " to a string"};
        };
        // Appended in place: a long chain of joins stays linear.
        if (l->kind == Value::Kind::String)
            l->text += text(r);
        else
            *l = Value::Str(text(*l) + text(r));
        return;
    }
    if (l->kind != Value::Kind::Number || r.kind != Value::Kind::Number)
        throw ScriptError{o.line, std::string("operator ") + TokName(o.op) + " needs numbers, not " +
                                      KindName(l->kind) + " and " + KindName(r.kind)};
    *l = Arithmetic(o, l->number, r.number);
}

Value Interpreter::Arithmetic(const Operator& o, double a, double b) {
    switch (o.op) {
        case Tok::Plus: return Value::Num(a + b);
        case Tok::Minus: return Value::Num(a - b);
        case Tok::Star: return Value::Num(a * b);
        case Tok::Slash: return Value::Num(a / b);  // IEEE: 0/0 is not-a-number
        case Tok::Less: return Value::Num(a < b);
        case Tok::LessEq: return Value::Num(a <= b);
        case Tok::Greater: return Value::Num(a > b);
        case Tok::GreaterEq: return Value::Num(a >= b);
        case Tok::EqEq: return Value::Num(a == b);
        case Tok::NotEq: return Value::Num(a != b);
        default: break;
    }
    throw ScriptError{o.line, "unknown operator"};
}

Value Interpreter::Call(const Expr& e) {
    Value out;
    if (CallBuiltin(e, &out)) return out;
    const FunctionEntry* f = host_.FindFunction(e.text);
    if (!f) throw ScriptError{e.line, "unknown function '" + e.text + "'"};
    return CallRegistered(e, *f);
}

Value Interpreter::CallRegistered(const Expr& e, const FunctionEntry& f) {
    const Signature& sig = f.signature;
    if (e.args.size() != sig.params.size())
        throw ScriptError{e.line, e.text + " takes " + std::to_string(sig.params.size()) + " arguments, not " +
                                      std::to_string(e.args.size())};
    // Images evaluated for the call stay referenced until it returns.
    std::vector<ImagePtr> held;
    std::vector<Arg> args;
    for (size_t i = 0; i < sig.params.size(); ++i) {
        const Expr& a = *e.args[i];
        std::string what = Ordinal(i) + " of " + e.text + " (" + sig.param_types[i] + ")";
        switch (sig.params[i]) {
            case ParamKind::Image:
                held.push_back(AnyImage(a, what));
                args.push_back(Arg::Image(held.back()));
                break;
            case ParamKind::ImageSlot:
                args.push_back(Arg::ImageSlot(&Variable(a, Value::Kind::Image, what).image));
                break;
            case ParamKind::Float:
            case ParamKind::Double:
            case ParamKind::Long:
            case ParamKind::Boolean: args.push_back(Arg::Number(Number(a, what))); break;
            case ParamKind::FloatRef:
            case ParamKind::DoubleRef:
            case ParamKind::LongRef:
                args.push_back(Arg::NumberRef(&Variable(a, Value::Kind::Number, what).number));
                break;
            case ParamKind::String: args.push_back(Arg::Text(String(a, what))); break;
        }
    }
    std::optional<double> r;
    try {
        r = host_.Call(e.text, args);
    } catch (const HostError& err) {
        throw ScriptError{e.line, Explained(err)};
    } catch (const CallError& err) {
        throw ScriptError{e.line, err.what()};
    }
    return r ? Value::Num(*r) : Value();
}

// The host's own functions; true when e names one of them.
bool Interpreter::CallBuiltin(const Expr& e, Value* out) {
    using Builtin = Value (Interpreter::*)(const Expr&);
    static const std::pair<const char*, Builtin> builtins[] = {
        {"Result", &Interpreter::BuiltinResult},
        {"RealImage", &Interpreter::BuiltinRealImage},
        {"OpenImage", &Interpreter::BuiltinOpenImage},
        {"SaveImage", &Interpreter::BuiltinSaveImage},
        {"ImageGetDimensionSize", &Interpreter::BuiltinDimensionSize},
        {"ImageIsValid", &Interpreter::BuiltinImageIsValid},
        {"GetPixel", &Interpreter::BuiltinPixel},
        {"SetPixel", &Interpreter::BuiltinPixel},
    };
    for (const auto& b : builtins) {
        if (e.text == b.first) {
            *out = (this->*b.second)(e);
            return true;
        }
    }
    return false;
}

void Interpreter::Arity(const Expr& e, size_t lo, size_t hi) {
    if (e.args.size() < lo || e.args.size() > hi) {
        std::string count = lo == hi ? std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi);
        throw ScriptError{e.line, e.text + " takes " + count + " arguments, not " + std::to_string(e.args.size())};
    }
}

std::string Interpreter::What(const Expr& e, size_t i) { return Ordinal(i) + " of " + e.text; }

Value Interpreter::BuiltinResult(const Expr& e) {
    Arity(e, 1, 1);
    Value v = Eval(*e.args[0]);
    if (v.kind == Value::Kind::Number)
        host_.ShowResult(NumberText(v.number));
    else if (v.kind == Value::Kind::String)
        host_.ShowResult(v.text);
    else
        throw ScriptError{e.line, "Result shows a string or a number, not " + std::string(KindName(v.kind))};
    return Value();
}

Value Interpreter::BuiltinRealImage(const Expr& e) {
    Arity(e, 3, 5);
    std::string name = String(*e.args[0], What(e, 0));
    double bytes = Number(*e.args[1], What(e, 1));
    if (bytes != 4)
        throw ScriptError{e.line, "RealImage makes 4-byte real images; asked for " + NumberText(bytes) + " bytes"};
    std::vector<uint32_t> dims;
    for (size_t i = 2; i < e.args.size(); ++i) {
        uint32_t d = Index(*e.args[i], What(e, i));
        if (d == 0) throw ScriptError{e.line, What(e, i) + " (a size) must be at least 1"};
        dims.push_back(d);
    }
    try {
        return Value::Img(MakeImage(name, DataType::Real4, dims));
    } catch (const std::bad_alloc&) {
        throw;  // out of memory at this line
    } catch (const std::exception& err) {
        throw ScriptError{e.line, std::string("RealImage: ") + err.what()};
    }
}

Value Interpreter::BuiltinOpenImage(const Expr& e) {
    Arity(e, 1, 1);
    std::string path = String(*e.args[0], What(e, 0));
    RefuseZeroByte(e, path);
    try {
        size_t slash = path.find_last_of('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        // The pixels go straight into the image: one copy of them, not two.
        ImagePtr image;
        const std::string note = ReadTiff(path, [&](uint32_t width, uint32_t height) {
            image = MakeImage(name, DataType::Real4, {width, height});
            return static_cast<float*>(image->Data());
        });
        if (!note.empty()) host_.ShowResult(note + "\n");
        return Value::Img(image);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& err) {
        throw ScriptError{e.line, err.what()};
    }
}

Value Interpreter::BuiltinSaveImage(const Expr& e) {
    Arity(e, 2, 2);
    ImagePtr img = ValidImage(*e.args[0], What(e, 0));
    std::string path = String(*e.args[1], What(e, 1));
    RefuseZeroByte(e, path);
    if (img->NumDimensions() > 2 && img->DimensionSize(2) > 1)
        throw ScriptError{e.line, "SaveImage writes one- and two-dimensional images only"};
    std::vector<double> px = img->Pixels();
    std::vector<float> f(px.begin(), px.end());
    try {
        WriteTiff(path, img->DimensionSize(0), img->DimensionSize(1), f.data(),
                  [this](const std::string& line) { host_.ShowResult(line); });
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& err) {
        throw ScriptError{e.line, err.what()};
    }
    return Value();
}

Value Interpreter::BuiltinDimensionSize(const Expr& e) {
    Arity(e, 2, 2);
    ImagePtr img = ValidImage(*e.args[0], What(e, 0));
    return Value::Num(img->DimensionSize(Index(*e.args[1], What(e, 1))));
}

Value Interpreter::BuiltinImageIsValid(const Expr& e) {
    Arity(e, 1, 1);
    return Value::Num(AnyImage(*e.args[0], What(e, 0)) ? 1 : 0);
}

// GetPixel(image, x, y) and SetPixel(image, x, y, value).
Value Interpreter::BuiltinPixel(const Expr& e) {
    bool set = e.text == "SetPixel";
    Arity(e, set ? 4 : 3, set ? 4 : 3);
    ImagePtr img = ValidImage(*e.args[0], What(e, 0));
    uint32_t x = Index(*e.args[1], What(e, 1)), y = Index(*e.args[2], What(e, 2));
    if (x >= img->DimensionSize(0) || y >= img->DimensionSize(1))
        throw ScriptError{
            e.line, e.text + ": pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is outside the image"};
    if (!set) return Value::Num(img->GetPixel(x, y));
    img->SetPixel(x, y, Number(*e.args[3], What(e, 3)));
    return Value();
}

}  // namespace orvanhost
