// Runs a parsed script against a host: variables, expressions, control flow,
// the host's own script functions and every function the module registered.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/app/host.h"
#include "host/script/ast.h"

namespace orvanhost {

// A script value. Images are counted references (an empty one is an
// invalid image); Kind::None is the "result" of a function that returns nothing.
struct Value {
    enum class Kind { Number, String, Image, None } kind = Kind::None;
    double number = 0;
    std::string text;
    ImagePtr image;

    static Value Num(double v) {
        Value x;
        x.kind = Kind::Number;
        x.number = v;
        return x;
    }
    static Value Str(std::string s) {
        Value x;
        x.kind = Kind::String;
        x.text = std::move(s);
        return x;
    }
    static Value Img(ImagePtr p) {
        Value x;
        x.kind = Kind::Image;
        x.image = std::move(p);
        return x;
    }
};

class Interpreter {
public:
    // The host must outlive the interpreter; `results` receives what the
    // script's own Result calls show (the host's Results window).
    explicit Interpreter(HostProgram& host) : host_(host) {}

    // Runs the statements. Throws ScriptError (with the line) on the first
    // error: an unknown name, a wrong argument, a failed file, a host error,
    // memory running out. It recurses once per level of the tree, so it takes
    // a tree from Parse, which bounds the depth (kMaxNesting).
    void Run(const StmtList& script);

private:
    using Scope = std::map<std::string, Value>;

    void Exec(const Stmt& s);
    void ExecStatement(const Stmt& s);
    void Declare(const Stmt& s);
    void Assign(const std::string& name, Tok op, const Expr& e, int line);
    Value Eval(const Expr& e);
    Value EvalBinary(const Expr& e);
    // *l = *l op r, or throws ScriptError at the operator's line.
    void Apply(const Operator& o, Value* l, const Value& r);
    static Value Arithmetic(const Operator& o, double a, double b);
    Value Call(const Expr& e);
    bool CallBuiltin(const Expr& e, Value* out);
    Value BuiltinResult(const Expr& e);
    Value BuiltinRealImage(const Expr& e);
    Value BuiltinOpenImage(const Expr& e);
    Value BuiltinSaveImage(const Expr& e);
    Value BuiltinDimensionSize(const Expr& e);
    Value BuiltinImageIsValid(const Expr& e);
    Value BuiltinPixel(const Expr& e);
    // Throws unless the call has lo to hi arguments.
    void Arity(const Expr& e, size_t lo, size_t hi);
    // "argument <i+1> of <function>"
    static std::string What(const Expr& e, size_t i);
    Value CallRegistered(const Expr& e, const FunctionEntry& f);

    Value* Lookup(const std::string& name);
    Value& Variable(const Expr& e, Value::Kind kind, const std::string& what);
    double Number(const Expr& e, const std::string& what);
    std::string String(const Expr& e, const std::string& what);
    ImagePtr AnyImage(const Expr& e, const std::string& what);
    ImagePtr ValidImage(const Expr& e, const std::string& what);
    uint32_t Index(const Expr& e, const std::string& what);
    bool Truth(const Expr& e);

    HostProgram& host_;
    std::vector<Scope> scopes_;
};

// How a number becomes text when joined to a string: printf's %g.
std::string NumberText(double v);

}  // namespace orvanhost
