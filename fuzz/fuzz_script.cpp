// The script runner on any bytes: scanning and parsing end in a tree or in a
// ScriptError at a line of the script, never in a crash. A script that can
// only compute runs to its end or to a ScriptError; the fuzzer does not run
// scripts that loop (they may never end), touch files, or make images whose
// size it does not know, nor ones whose strings can double at each statement.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/app/host.h"
#include "host/script/interpreter.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

constexpr double kLargestSide = 16;

int Variables(const orvanhost::Expr& e) {
    int n = e.kind == orvanhost::Expr::Kind::Var;
    for (const auto& a : e.args) n += Variables(*a);
    return n;
}

bool Harmless(const orvanhost::Expr& e) {
    if (e.kind == orvanhost::Expr::Kind::Call) {
        if (e.text == "OpenImage" || e.text == "SaveImage") return false;
        if (e.text == "RealImage") {
            for (size_t i = 2; i < e.args.size(); ++i) {
                const orvanhost::Expr& side = *e.args[i];
                if (side.kind != orvanhost::Expr::Kind::Number || !(side.number <= kLargestSide)) return false;
            }
        }
    }
    for (const auto& a : e.args)
        if (!Harmless(*a)) return false;
    return true;
}

// A value built from one variable at most grows by the script's own text
// per statement, not twice over.
bool HarmlessValue(const orvanhost::Expr& e) { return Harmless(e) && Variables(e) <= 1; }

bool Harmless(const orvanhost::Stmt& s) {
    using Kind = orvanhost::Stmt::Kind;
    switch (s.kind) {
        case Kind::For: return false;
        case Kind::Empty: return true;
        case Kind::Decl:
            for (const auto& d : s.decls)
                if (d.init && !HarmlessValue(*d.init)) return false;
            return true;
        case Kind::Assign: return HarmlessValue(*s.expr);
        case Kind::Expr: return Harmless(*s.expr);
        case Kind::If:
            for (const auto& b : s.branches)
                if (!Harmless(*b.condition) || !Harmless(*b.body)) return false;
            return !s.else_body || Harmless(*s.else_body);
        case Kind::Block:
            for (const auto& b : s.body)
                if (!Harmless(*b)) return false;
            return true;
    }
    return false;
}

// A ScriptError names a line of the script (or none), and says something.
// LF, CR LF and a lone CR each end a line.
void CheckError(const orvanhost::ScriptError& e, const std::string& source) {
    int lines = 1;
    for (size_t i = 0; i < source.size(); ++i)
        lines += source[i] == '\n' || (source[i] == '\r' && (i + 1 == source.size() || source[i + 1] != '\n'));
    Check(e.line >= 0 && e.line <= lines);
    Check(!e.message.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string source(reinterpret_cast<const char*>(data), size);
    orvanhost::StmtList script;
    try {
        script = orvanhost::Parse(orvanhost::Scan(source));
    } catch (const orvanhost::ScriptError& e) {
        CheckError(e, source);
        return 0;
    }
    for (const auto& s : script)
        if (!Harmless(*s)) return 0;
    orvanhost::HostProgram host;
    host.KeepResults(false);
    try {
        orvanhost::Interpreter(host).Run(script);
    } catch (const orvanhost::ScriptError& e) {
        CheckError(e, source);
    }
    return 0;
}
