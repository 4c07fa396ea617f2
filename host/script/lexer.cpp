#include "host/script/lexer.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace orvanhost {

const char* TokName(Tok kind) {
    switch (kind) {
        case Tok::Number: return "number";
        case Tok::String: return "string";
        case Tok::Ident: return "name";
        case Tok::LParen: return "'('";
        case Tok::RParen: return "')'";
        case Tok::LBrace: return "'{'";
        case Tok::RBrace: return "'}'";
        case Tok::Comma: return "','";
        case Tok::Semicolon: return "';'";
        case Tok::Plus: return "'+'";
        case Tok::Minus: return "'-'";
        case Tok::Star: return "'*'";
        case Tok::Slash: return "'/'";
        case Tok::Less: return "'<'";
        case Tok::LessEq: return "'<='";
        case Tok::Greater: return "'>'";
        case Tok::GreaterEq: return "'>='";
        case Tok::EqEq: return "'=='";
        case Tok::NotEq: return "'!='";
        case Tok::Assign: return "'='";
        case Tok::RefAssign: return "':='";
        case Tok::End: return "end of file";
    }
    return "?";
}

namespace {

class Scanner {
public:
    explicit Scanner(const std::string& s) : src_(s) {}

    std::vector<Token> Run() {
        try {
            SkipByteOrderMark();
            std::vector<Token> out;
            for (;;) {
                SkipSpaceAndComments();
                if (pos_ >= src_.size()) break;
                out.push_back(Next());
            }
            out.push_back(Token{Tok::End, "", 0, line_});
            return out;
        } catch (const std::bad_alloc&) {
            throw ScriptError{line_, "out of memory"};
        }
    }

private:
    char Peek(size_t ahead = 0) const { return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : '\0'; }

    // Editors that save UTF-8 may put a byte-order mark first.
    void SkipByteOrderMark() {
        if (src_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
    }

    // Steps over a line end, counting it: LF, CR LF, or a lone CR as old Mac
    // editors write, which would otherwise leave a // comment running to the
    // end of the file. False, not moving, on anything else.
    bool LineEnd() {
        const char c = Peek();
        if (c != '\n' && c != '\r') return false;
        pos_ += c == '\r' && Peek(1) == '\n' ? 2 : 1;
        ++line_;
        return true;
    }

    void SkipSpaceAndComments() {
        while (pos_ < src_.size()) {
            char c = src_[pos_];
            if (LineEnd()) {
                continue;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (c == '/' && Peek(1) == '/') {
                while (pos_ < src_.size() && src_[pos_] != '\n' && src_[pos_] != '\r') ++pos_;
            } else if (c == '/' && Peek(1) == '*') {
                int start = line_;
                pos_ += 2;
                while (pos_ < src_.size() && !(src_[pos_] == '*' && Peek(1) == '/'))
                    if (!LineEnd()) ++pos_;
                if (pos_ >= src_.size()) throw ScriptError{start, "unterminated comment"};
                pos_ += 2;
            } else {
                break;
            }
        }
    }

    Token Make(Tok k, size_t len) {
        pos_ += len;
        return Token{k, "", 0, line_};
    }

    Token Next() {
        char c = src_[pos_];
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && std::isdigit(static_cast<unsigned char>(Peek(1)))))
            return NumberToken();
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t start = pos_;
            while (pos_ < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[pos_])) || src_[pos_] == '_'))
                ++pos_;
            return Token{Tok::Ident, src_.substr(start, pos_ - start), 0, line_};
        }
        if (c == '"') return StringToken();
        switch (c) {
            case '(': return Make(Tok::LParen, 1);
            case ')': return Make(Tok::RParen, 1);
            case '{': return Make(Tok::LBrace, 1);
            case '}': return Make(Tok::RBrace, 1);
            case ',': return Make(Tok::Comma, 1);
            case ';': return Make(Tok::Semicolon, 1);
            case '+': return Make(Tok::Plus, 1);
            case '-': return Make(Tok::Minus, 1);
            case '*': return Make(Tok::Star, 1);
            case '/': return Make(Tok::Slash, 1);
            case '<': return Peek(1) == '=' ? Make(Tok::LessEq, 2) : Make(Tok::Less, 1);
            case '>': return Peek(1) == '=' ? Make(Tok::GreaterEq, 2) : Make(Tok::Greater, 1);
            case '=': return Peek(1) == '=' ? Make(Tok::EqEq, 2) : Make(Tok::Assign, 1);
            case '!':
                if (Peek(1) == '=') return Make(Tok::NotEq, 2);
                break;
            case ':':
                if (Peek(1) == '=') return Make(Tok::RefAssign, 2);
                break;
            default: break;
        }
        throw ScriptError{line_, Unexpected(c)};
    }

    // A printable character as itself; anything else (a control character,
    // a zero byte, a byte of a multi-byte UTF-8 character) as its value.
    static std::string Unexpected(char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b > 0x20 && b < 0x7F) return std::string("unexpected character '") + c + "'";
        return "unexpected character " + ByteValue(b);
    }

    static std::string ByteValue(unsigned char b) {
        char text[16];
        std::snprintf(text, sizeof text, "byte 0x%02X", b);
        return text;
    }

    // 'ab' when b is printable, else 'a' followed by byte 0xNN.
    static std::string Quoted(char a, char b) {
        const unsigned char u = static_cast<unsigned char>(b);
        if (u > 0x20 && u < 0x7F) return std::string("'") + a + b + "'";
        return std::string("'") + a + "' followed by " + ByteValue(u);
    }

    Token NumberToken() {
        const char* begin = src_.c_str() + pos_;
        char* end = nullptr;
        double v = std::strtod(begin, &end);
        pos_ += static_cast<size_t>(end - begin);
        if (std::isalpha(static_cast<unsigned char>(Peek())) || Peek() == '_')
            throw ScriptError{line_, "malformed number"};
        return Token{Tok::Number, "", v, line_};
    }

    Token StringToken() {
        int start = line_;
        ++pos_;
        std::string text;
        for (;;) {
            if (pos_ >= src_.size() || src_[pos_] == '\n' || src_[pos_] == '\r')
                throw ScriptError{start, "unterminated string"};
            char c = src_[pos_++];
            if (c == '"') break;
            if (c != '\\') {
                text += c;
                continue;
            }
            if (pos_ >= src_.size()) throw ScriptError{start, "unterminated string"};
            char e = src_[pos_++];
            switch (e) {
                case 'n': text += '\n'; break;
                case 't': text += '\t'; break;
                case '"': text += '"'; break;
                case '\\': text += '\\'; break;
                default: throw ScriptError{start, "unknown escape " + Quoted('\\', e) + " in string"};
            }
        }
        return Token{Tok::String, text, 0, start};
    }

    const std::string& src_;
    size_t pos_ = 0;
    int line_ = 1;
};

}  // namespace

std::vector<Token> Scan(const std::string& source) { return Scanner(source).Run(); }

}  // namespace orvanhost
