// Scanner of the host's script language subset. Tokens carry the line they
// start on so that every later error can name it.
#pragma once

#include <string>
#include <vector>

namespace orvanhost {

enum class Tok {
    Number,
    String,
    Ident,
    LParen,
    RParen,
    LBrace,
    RBrace,
    Comma,
    Semicolon,
    Plus,
    Minus,
    Star,
    Slash,
    Less,
    LessEq,
    Greater,
    GreaterEq,
    EqEq,
    NotEq,
    Assign,     // =
    RefAssign,  // :=
    End
};

struct Token {
    Tok kind;
    std::string text;   // identifier name, or the decoded string literal
    double number = 0;  // value of a number literal
    int line = 0;
};

// Thrown for every scanning, parsing and run-time error of a script; `line`
// is 0 when the error belongs to no line of the script.
struct ScriptError {
    int line;
    std::string message;
};

// Splits `source` into tokens ending with one Tok::End. Throws ScriptError on
// an unknown character, an unterminated string or comment, or a bad escape.
std::vector<Token> Scan(const std::string& source);

const char* TokName(Tok kind);

}  // namespace orvanhost
