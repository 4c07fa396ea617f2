#include "host/app/signature.h"

#include <cctype>
#include <stdexcept>

namespace orvanhost {

namespace {

struct Lexer {
    std::string_view s;
    std::size_t pos = 0;

    void SkipBlanks() {
        while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos == s.size();
    }
    // An identifier, or "" when none starts here.
    std::string Identifier() {
        SkipBlanks();
        std::size_t start = pos;
        while (pos < s.size() && (std::isalnum(static_cast<unsigned char>(s[pos])) || s[pos] == '_')) ++pos;
        if (start < pos && std::isdigit(static_cast<unsigned char>(s[start]))) {
            pos = start;
            return "";
        }
        return std::string(s.substr(start, pos - start));
    }
    bool Accept(char c) {
        SkipBlanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
};

[[noreturn]] void Fail(const std::string& why, std::string_view text) {
    throw std::invalid_argument("cannot read signature \"" + std::string(text) + "\": " + why);
}

bool ResultFromName(const std::string& t, ResultKind* kind) {
    if (t == "void")
        *kind = ResultKind::Void;
    else if (t == "float")
        *kind = ResultKind::Float;
    else if (t == "double")
        *kind = ResultKind::Double;
    else if (t == "long")
        *kind = ResultKind::Long;
    else if (t == "Boolean")
        *kind = ResultKind::Boolean;
    else
        return false;
    return true;
}

// Kind of a parameter type name, by value or (pointer) through '*'.
bool ParamFromName(const std::string& t, bool pointer, ParamKind* kind) {
    if (!pointer) {
        if (t == "BasicImage" || t == "RealImagePtr" || t == "ImageRef")
            *kind = ParamKind::Image;
        else if (t == "float")
            *kind = ParamKind::Float;
        else if (t == "double")
            *kind = ParamKind::Double;
        else if (t == "long")
            *kind = ParamKind::Long;
        else if (t == "Boolean")
            *kind = ParamKind::Boolean;
        else if (t == "host_string")
            *kind = ParamKind::String;
        else
            return false;
    } else {
        if (t == "ImageRef")
            *kind = ParamKind::ImageSlot;
        else if (t == "float")
            *kind = ParamKind::FloatRef;
        else if (t == "double")
            *kind = ParamKind::DoubleRef;
        else if (t == "long")
            *kind = ParamKind::LongRef;
        else
            return false;
    }
    return true;
}

}  // namespace

Signature ParseSignature(std::string_view text) {
    Signature sig;
    sig.text = std::string(text);
    Lexer lx{text};

    const std::string result = lx.Identifier();
    if (result.empty()) Fail("no result type", text);
    if (!ResultFromName(result, &sig.result)) Fail("unknown result type \"" + result + "\"", text);
    sig.name = lx.Identifier();
    if (sig.name.empty()) Fail("no function name", text);
    if (!lx.Accept('(')) Fail("'(' expected after the name", text);

    if (!lx.Accept(')')) {
        for (;;) {
            const std::string type = lx.Identifier();
            if (type.empty()) Fail("parameter type expected", text);
            const bool pointer = lx.Accept('*');
            ParamKind kind;
            if (!ParamFromName(type, pointer, &kind))
                Fail("unknown parameter type \"" + type + (pointer ? " *" : "") + "\"", text);
            sig.params.push_back(kind);
            sig.param_types.push_back(pointer ? type + " *" : type);
            if (lx.Accept(')')) break;
            if (!lx.Accept(',')) Fail("',' or ')' expected after a parameter", text);
        }
    }
    if (!lx.AtEnd()) Fail("text after ')'", text);
    return sig;
}

const char* ToString(ParamKind kind) {
    switch (kind) {
        case ParamKind::Image: return "image";
        case ParamKind::ImageSlot: return "ImageRef *";
        case ParamKind::Float: return "float";
        case ParamKind::FloatRef: return "float *";
        case ParamKind::Double: return "double";
        case ParamKind::DoubleRef: return "double *";
        case ParamKind::Long: return "long";
        case ParamKind::LongRef: return "long *";
        case ParamKind::Boolean: return "Boolean";
        case ParamKind::String: return "host_string";
    }
    return "?";
}

const char* ToString(ResultKind kind) {
    switch (kind) {
        case ResultKind::Void: return "void";
        case ResultKind::Float: return "float";
        case ResultKind::Double: return "double";
        case ResultKind::Long: return "long";
        case ResultKind::Boolean: return "Boolean";
    }
    return "?";
}

bool IsOutParameter(ParamKind kind) {
    return kind == ParamKind::ImageSlot || kind == ParamKind::FloatRef || kind == ParamKind::DoubleRef ||
           kind == ParamKind::LongRef;
}

}  // namespace orvanhost
