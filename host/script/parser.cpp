#include "host/script/ast.h"

#include <new>
#include <string>

namespace orvanhost {
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
    // One level deeper for as long as it lives; refused beyond kMaxNesting,
    // at the line where the level opens.
    class Nest {
    public:
        Nest(Parser& p, int line) : depth_(p.depth_) {
            if (depth_ >= kMaxNesting)
                throw ScriptError{line, "nested more than " + std::to_string(kMaxNesting) + " levels deep"};
            ++depth_;
        }
        ~Nest() { --depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;

    private:
        int& depth_;
    };

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
        Nest nest(*this, line);
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

    // An `else if` ladder is one statement with a branch per condition, so
    // its length costs no depth.
    std::unique_ptr<Stmt> If() {
        auto s = Node(Stmt::Kind::If, Cur().line);
        do {
            ++pos_;  // 'if'
            Branch b;
            Expect(Tok::LParen, "after 'if'");
            b.condition = Expression();
            Expect(Tok::RParen, "after the condition");
            b.body = Statement();
            s->branches.push_back(std::move(b));
            if (!IsKeyword("else")) return s;
            ++pos_;
        } while (IsKeyword("if"));
        s->else_body = Statement();
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
        s->loop_body = Statement();
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

    std::unique_ptr<Expr> Expression() {
        Nest nest(*this, Cur().line);
        return Comparison();
    }

    static bool IsComparison(Tok k) {
        return k == Tok::Less || k == Tok::LessEq || k == Tok::Greater || k == Tok::GreaterEq || k == Tok::EqEq ||
               k == Tok::NotEq;
    }
    static bool IsSum(Tok k) { return k == Tok::Plus || k == Tok::Minus; }
    static bool IsProduct(Tok k) { return k == Tok::Star || k == Tok::Slash; }

    // Operands joined by operators of one precedence, as one flat node: a
    // chain of any length costs one level.
    template <typename Operand>
    std::unique_ptr<Expr> Chain(bool (*is_op)(Tok), Operand operand) {
        auto first = (this->*operand)();
        if (!is_op(Cur().kind)) return first;
        auto e = ExprNode(Expr::Kind::Binary, Cur().line);
        e->args.push_back(std::move(first));
        while (is_op(Cur().kind)) {
            e->ops.push_back(Operator{Cur().kind, Cur().line});
            ++pos_;
            e->args.push_back((this->*operand)());
        }
        e->line = e->ops.back().line;  // where the whole chain's value is formed
        return e;
    }

    std::unique_ptr<Expr> Comparison() { return Chain(IsComparison, &Parser::Sum); }
    std::unique_ptr<Expr> Sum() { return Chain(IsSum, &Parser::Product); }
    std::unique_ptr<Expr> Product() { return Chain(IsProduct, &Parser::Unary); }

    std::unique_ptr<Expr> Unary() {
        while (Accept(Tok::Plus)) {
        }
        if (Cur().kind != Tok::Minus) return Primary();
        auto e = ExprNode(Expr::Kind::Neg, Cur().line);
        Nest nest(*this, Cur().line);
        ++pos_;
        e->args.push_back(Unary());
        return e;
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
    int depth_ = 0;
};

}  // namespace

StmtList Parse(const std::vector<Token>& tokens) { return Parser(tokens).Script(); }

}  // namespace orvanhost
