#include "host/script/ast.h"

#include <new>

namespace dmhost {
namespace {

class Parser {
public:
    explicit Parser(const std::vector<Token>& t) : t_(t) {}

    StmtList Script() {
        try {
            StmtList out;
            while (Cur().kind != Tok::End) out.push_back(Statement());
            return out;
        } catch (const std::bad_alloc&) {
            throw ScriptError{Cur().line, "out of memory"};
        }
    }

private:
    const Token& Cur() const { return t_[pos_]; }
    const Token& Ahead(size_t n) const { return pos_ + n < t_.size() ? t_[pos_ + n] : t_.back(); }
    bool Accept(Tok k) {
        if (Cur().kind != k) return false;
        ++pos_;
        return true;
    }
    const Token& Expect(Tok k, const char* context) {
        if (Cur().kind != k)
            throw ScriptError{Cur().line,
                              std::string("expected ") + TokName(k) + " " + context + ", found " + Describe(Cur())};
        return t_[pos_++];
    }
    static std::string Describe(const Token& t) {
        if (t.kind == Tok::Ident) return "'" + t.text + "'";
        return TokName(t.kind);
    }
    bool IsKeyword(const char* w) const { return Cur().kind == Tok::Ident && Cur().text == w; }
    bool AtDeclaration() const {
        return Cur().kind == Tok::Ident &&
               (Cur().text == "number" || Cur().text == "image" || Cur().text == "string") &&
               Ahead(1).kind == Tok::Ident;
    }

    std::unique_ptr<Stmt> Statement() {
        int line = Cur().line;
        if (Accept(Tok::Semicolon)) return Node(Stmt::Kind::Empty, line);
        if (Cur().kind == Tok::LBrace) return Block();
        if (IsKeyword("if")) return If();
        if (IsKeyword("for")) return For();
        auto s = Simple();
        Expect(Tok::Semicolon, "after statement");
        return s;
    }

    static std::unique_ptr<Stmt> Node(Stmt::Kind k, int line) {
        auto s = std::make_unique<Stmt>();
        s->kind = k;
        s->line = line;
        return s;
    }

    std::unique_ptr<Stmt> Block() {
        auto s = Node(Stmt::Kind::Block, Cur().line);
        Expect(Tok::LBrace, "to open a block");
        while (Cur().kind != Tok::RBrace) {
            if (Cur().kind == Tok::End) throw ScriptError{s->line, "block opened here is not closed"};
            s->body.push_back(Statement());
        }
        ++pos_;
        return s;
    }

    std::unique_ptr<Stmt> If() {
        auto s = Node(Stmt::Kind::If, Cur().line);
        ++pos_;
        Expect(Tok::LParen, "after 'if'");
        s->expr = Expression();
        Expect(Tok::RParen, "after the condition");
        s->then_branch = Statement();
        if (IsKeyword("else")) {
            ++pos_;
            s->else_branch = Statement();
        }
        return s;
    }

    std::unique_ptr<Stmt> For() {
        auto s = Node(Stmt::Kind::For, Cur().line);
        ++pos_;
        Expect(Tok::LParen, "after 'for'");
        if (Cur().kind != Tok::Semicolon) s->init = Simple();
        Expect(Tok::Semicolon, "after the loop's start");
        if (Cur().kind != Tok::Semicolon) s->expr = Expression();
        Expect(Tok::Semicolon, "after the loop's condition");
        if (Cur().kind != Tok::RParen) s->step = Simple();
        Expect(Tok::RParen, "after the loop's step");
        s->then_branch = Statement();
        return s;
    }

    // A declaration, an assignment or an expression, without its ';'.
    std::unique_ptr<Stmt> Simple() {
        int line = Cur().line;
        if (AtDeclaration()) {
            auto s = Node(Stmt::Kind::Decl, line);
            const std::string& w = Cur().text;
            s->type = w == "number" ? VarType::Number : w == "image" ? VarType::Image : VarType::String;
            ++pos_;
            do {
                Declarator d;
                d.line = Cur().line;
                d.name = Expect(Tok::Ident, "in declaration").text;
                if (Cur().kind == Tok::Assign || Cur().kind == Tok::RefAssign) {
                    d.op = Cur().kind;
                    ++pos_;
                    d.init = Expression();
                }
                s->decls.push_back(std::move(d));
            } while (Accept(Tok::Comma));
            return s;
        }
        if (Cur().kind == Tok::Ident && (Ahead(1).kind == Tok::Assign || Ahead(1).kind == Tok::RefAssign)) {
            auto s = Node(Stmt::Kind::Assign, line);
            s->name = Cur().text;
            s->op = Ahead(1).kind;
            pos_ += 2;
            s->expr = Expression();
            return s;
        }
        auto s = Node(Stmt::Kind::Expr, line);
        s->expr = Expression();
        return s;
    }

    static std::unique_ptr<Expr> ExprNode(Expr::Kind k, int line) {
        auto e = std::make_unique<Expr>();
        e->kind = k;
        e->line = line;
        return e;
    }

    std::unique_ptr<Expr> Expression() { return Comparison(); }

    std::unique_ptr<Expr> Binary(std::unique_ptr<Expr> l, Tok op, std::unique_ptr<Expr> r, int line) {
        auto e = ExprNode(Expr::Kind::Binary, line);
        e->op = op;
        e->args.push_back(std::move(l));
        e->args.push_back(std::move(r));
        return e;
    }

    std::unique_ptr<Expr> Comparison() {
        auto l = Sum();
        for (;;) {
            Tok k = Cur().kind;
            if (k != Tok::Less && k != Tok::LessEq && k != Tok::Greater && k != Tok::GreaterEq && k != Tok::EqEq &&
                k != Tok::NotEq)
                return l;
            int line = Cur().line;
            ++pos_;
            l = Binary(std::move(l), k, Sum(), line);
        }
    }

    std::unique_ptr<Expr> Sum() {
        auto l = Product();
        while (Cur().kind == Tok::Plus || Cur().kind == Tok::Minus) {
            Tok k = Cur().kind;
            int line = Cur().line;
            ++pos_;
            l = Binary(std::move(l), k, Product(), line);
        }
        return l;
    }

    std::unique_ptr<Expr> Product() {
        auto l = Unary();
        while (Cur().kind == Tok::Star || Cur().kind == Tok::Slash) {
            Tok k = Cur().kind;
            int line = Cur().line;
            ++pos_;
            l = Binary(std::move(l), k, Unary(), line);
        }
        return l;
    }

    std::unique_ptr<Expr> Unary() {
        if (Cur().kind == Tok::Minus) {
            auto e = ExprNode(Expr::Kind::Neg, Cur().line);
            ++pos_;
            e->args.push_back(Unary());
            return e;
        }
        if (Accept(Tok::Plus)) return Unary();
        return Primary();
    }

    std::unique_ptr<Expr> Primary() {
        const Token& t = Cur();
        switch (t.kind) {
            case Tok::Number: {
                auto e = ExprNode(Expr::Kind::Number, t.line);
                e->number = t.number;
                ++pos_;
                return e;
            }
            case Tok::String: {
                auto e = ExprNode(Expr::Kind::String, t.line);
                e->text = t.text;
                ++pos_;
                return e;
            }
            case Tok::LParen: {
                ++pos_;
                auto e = Expression();
                Expect(Tok::RParen, "to close '('");
                return e;
            }
            case Tok::Ident: {
                ++pos_;
                if (Cur().kind != Tok::LParen) {
                    auto e = ExprNode(Expr::Kind::Var, t.line);
                    e->text = t.text;
                    return e;
                }
                auto e = ExprNode(Expr::Kind::Call, t.line);
                e->text = t.text;
                ++pos_;
                if (!Accept(Tok::RParen)) {
                    do {
                        e->args.push_back(Expression());
                    } while (Accept(Tok::Comma));
                    Expect(Tok::RParen, "after the arguments of " + t.text);
                }
                return e;
            }
            default: throw ScriptError{t.line, "expected an expression, found " + Describe(t)};
        }
    }

    const Token& Expect(Tok k, const std::string& context) { return Expect(k, context.c_str()); }

    const std::vector<Token>& t_;
    size_t pos_ = 0;
};

}  // namespace

StmtList Parse(const std::vector<Token>& tokens) { return Parser(tokens).Script(); }

}  // namespace dmhost
