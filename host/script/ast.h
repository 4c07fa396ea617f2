// Syntax tree of a script. Nodes own their children; every node keeps the
// line it starts on for error messages. Chains that read flat in the script
// (a sum of many terms, an `else if` ladder) are flat here too, so walking
// or destroying a tree recurses only as deep as the script nests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/script/lexer.h"

namespace orvanhost {

// The deepest nesting a script may have, counting every statement, every
// expression (in parentheses, as an argument or a condition) and every sign
// that holds another. Scripts written by hand stay far below it; the parser
// and the interpreter recurse once per level, and this keeps them well inside
// the stack, also under AddressSanitizer.
constexpr int kMaxNesting = 1000;

enum class VarType { Number, Image, String };

// An operator of a chain and the line it stands on.
struct Operator {
    Tok op = Tok::End;
    int line = 0;
};

struct Expr {
    enum class Kind { Number, String, Var, Neg, Binary, Call } kind;
    int line = 0;                             // Binary: the line of its last operator
    double number = 0;                        // Number
    std::string text;                         // String literal, Var name, Call name
    std::vector<std::unique_ptr<Expr>> args;  // Neg: 1, Binary: n >= 2 operands, Call: n
    // Binary: the n - 1 operators of one precedence between the operands,
    // applied from the left: a - b + c is (a - b) + c.
    std::vector<Operator> ops;
};

struct Stmt;
using StmtList = std::vector<std::unique_ptr<Stmt>>;

struct Declarator {
    std::string name;
    Tok op = Tok::End;  // Assign, RefAssign, or End without initialiser
    std::unique_ptr<Expr> init;
    int line = 0;
};

// One condition of an `if` or `else if` and the statement it guards.
struct Branch {
    std::unique_ptr<Expr> condition;
    std::unique_ptr<Stmt> body;
};

struct Stmt {
    enum class Kind { Decl, Assign, Expr, If, For, Block, Empty } kind;
    int line = 0;
    VarType type = VarType::Number;    // Decl
    std::vector<Declarator> decls;     // Decl
    std::string name;                  // Assign
    Tok op = Tok::End;                 // Assign
    std::unique_ptr<Expr> expr;        // Assign value, Expr, For condition
    std::unique_ptr<Stmt> init, step;  // For
    std::unique_ptr<Stmt> loop_body;   // For
    std::vector<Branch> branches;      // If: the `if` and each `else if`, in order
    std::unique_ptr<Stmt> else_body;   // If: the final `else`, if any
    StmtList body;                     // Block
};

// Parses a whole script. Throws ScriptError with the line of the offending
// token, also for a script nested deeper than kMaxNesting ("nested more than
// 1000 levels deep") and for memory running out ("out of memory").
StmtList Parse(const std::vector<Token>& tokens);

}  // namespace orvanhost
