// Syntax tree of a script. Nodes own their children; every node keeps the
// line it starts on for error messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/script/lexer.h"

namespace dmhost {

enum class VarType { Number, Image, String };

struct Expr {
    enum class Kind { Number, String, Var, Neg, Binary, Call } kind;
    int line = 0;
    double number = 0;                        // Number
    std::string text;                         // String literal, Var name, Call name
    Tok op = Tok::End;                        // Binary
    std::vector<std::unique_ptr<Expr>> args;  // Neg: 1, Binary: 2, Call: n
};

struct Stmt;
using StmtList = std::vector<std::unique_ptr<Stmt>>;

struct Declarator {
    std::string name;
    Tok op = Tok::End;  // Assign, RefAssign, or End without initialiser
    std::unique_ptr<Expr> init;
    int line = 0;
};

struct Stmt {
    enum class Kind { Decl, Assign, Expr, If, For, Block, Empty } kind;
    int line = 0;
    VarType type = VarType::Number;                  // Decl
    std::vector<Declarator> decls;                   // Decl
    std::string name;                                // Assign
    Tok op = Tok::End;                               // Assign
    std::unique_ptr<Expr> expr;                      // Assign value, Expr, If/For condition
    std::unique_ptr<Stmt> init, step;                // For
    std::unique_ptr<Stmt> then_branch, else_branch;  // If; For body in then_branch
    StmtList body;                                   // Block
};

// Parses a whole script. Throws ScriptError with the line of the offending token.
StmtList Parse(const std::vector<Token>& tokens);

}  // namespace dmhost
