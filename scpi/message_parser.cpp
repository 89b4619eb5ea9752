#include "scpi/message_parser.h"

namespace tarnel::scpi {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// IEEE 488.2 white space: every byte up to the space but the line feed.
bool IsWhite(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\n'; }

std::string Shown(char c) {
    if (c >= '!' && c <= '~') return std::string("'") + c + "'";
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(c);
    return std::string("byte 0x") + kHex[byte >> 4] + kHex[byte & 0xF];
}

class MessageCursor {
public:
    explicit MessageCursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
    std::size_t Position() const { return at_; }
    std::string_view Since(std::size_t start) const { return text_.substr(start, at_ - start); }
    void Rewind(std::size_t position) { at_ = position; }
    bool Take(char c) {
        if (AtEnd() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    void SkipWhite() {
        while (!AtEnd() && IsWhite(text_[at_])) ++at_;
    }
    template <typename Accept>
    std::string_view TakeWhile(Accept accept) {
        const std::size_t start = at_;
        while (!AtEnd() && accept(text_[at_])) ++at_;
        return Since(start);
    }
    // A program mnemonic: a letter, then letters, digits and underscores.
    std::string_view TakeMnemonic() {
        if (!IsLetter(Peek())) return {};
        return TakeWhile([](char c) { return IsLetter(c) || IsDigit(c) || c == '_'; });
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct Failure {
    ParseError error;
};

[[noreturn]] void Fail(ErrorCode code, std::string detail) { throw Failure{{code, std::move(detail)}}; }

[[noreturn]] void Unexpected(const MessageCursor& cursor, const std::string& where) {
    Fail(ErrorCode::SyntaxError, "unexpected " + Shown(cursor.Peek()) + " " + where);
}

Parameter NonDecimal(MessageCursor& cursor) {
    Parameter parameter{Parameter::Kind::NonDecimal, {}, {}, 0};
    switch (cursor.Peek()) {
        case 'H': case 'h': parameter.radix = 16; break;
        case 'Q': case 'q': parameter.radix = 8; break;
        case 'B': case 'b': parameter.radix = 2; break;
        default:
            if (IsDigit(cursor.Peek())) Fail(ErrorCode::CommandError, "block data is not accepted");
            Unexpected(cursor, "after '#'; numbers take #H, #Q or #B");
    }
    cursor.Take(cursor.Peek());
    const int radix = parameter.radix;
    const auto isDigitOfRadix = [radix](char c) {
        const int value = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : 99;
        return value < radix;
    };
    parameter.text = cursor.TakeWhile(isDigitOfRadix);
    if (parameter.text.empty() || IsLetter(cursor.Peek()) || IsDigit(cursor.Peek())) {
        Unexpected(cursor, "in a number in base " + std::to_string(radix));
    }
    return parameter;
}

Parameter Quoted(MessageCursor& cursor) {
    const char quote = cursor.Peek();
    cursor.Take(quote);
    Parameter parameter{Parameter::Kind::String, {}, {}, 10};
    while (true) {
        if (cursor.AtEnd()) Fail(ErrorCode::SyntaxError, "a string without its closing quote");
        const char c = cursor.Peek();
        cursor.Take(c);
        // A quote written twice stands for one.
        if (c == quote && !cursor.Take(quote)) return parameter;
        parameter.text += c;
    }
}

Parameter Decimal(MessageCursor& cursor) {
    const std::size_t start = cursor.Position();
    if (!cursor.Take('+')) cursor.Take('-');
    std::size_t digits = cursor.TakeWhile(IsDigit).size();
    if (cursor.Take('.')) digits += cursor.TakeWhile(IsDigit).size();
    if (digits == 0) Fail(ErrorCode::SyntaxError, "a number without digits");
    // An exponent only when digits follow the E: "1E" is 1 with the unit E.
    const std::size_t beforeExponent = cursor.Position();
    if (cursor.Take('E') || cursor.Take('e')) {
        if (!cursor.Take('+')) cursor.Take('-');
        if (cursor.TakeWhile(IsDigit).empty()) cursor.Rewind(beforeExponent);
    }
    Parameter parameter{Parameter::Kind::Decimal, std::string(cursor.Since(start)), {}, 10};
    const std::size_t beforeSuffix = cursor.Position();
    cursor.SkipWhite();
    parameter.suffix = cursor.TakeMnemonic();
    if (parameter.suffix.empty()) cursor.Rewind(beforeSuffix);
    return parameter;
}

Parameter ParameterAt(MessageCursor& cursor) {
    const char c = cursor.Peek();
    if (c == '#') {
        cursor.Take('#');
        return NonDecimal(cursor);
    }
    if (c == '"' || c == '\'') return Quoted(cursor);
    if (c == '(') Fail(ErrorCode::CommandError, "expressions are not accepted");
    if (IsDigit(c) || c == '+' || c == '-' || c == '.') return Decimal(cursor);
    if (IsLetter(c)) return {Parameter::Kind::Character, std::string(cursor.TakeMnemonic()), {}, 10};
    Unexpected(cursor, "where a parameter belongs");
}

struct Header {
    std::vector<std::string_view> nodes;
    bool common = false;
    bool rooted = false;
    bool query = false;
    std::string typed;
};

Header HeaderAt(MessageCursor& cursor) {
    Header header;
    const std::size_t start = cursor.Position();
    if (cursor.Take('*')) {
        header.common = true;
        if (cursor.TakeMnemonic().empty()) Unexpected(cursor, "after '*'");
        header.nodes.push_back(cursor.Since(start));
    } else {
        header.rooted = cursor.Take(':');
        do {
            const std::string_view node = cursor.TakeMnemonic();
            if (node.empty()) Unexpected(cursor, header.nodes.empty() ? "where a command header belongs" : "in a header");
            header.nodes.push_back(node);
        } while (cursor.Take(':'));
    }
    header.query = cursor.Take('?');
    header.typed = cursor.Since(start);
    if (!cursor.AtEnd() && cursor.Peek() != ';' && !IsWhite(cursor.Peek())) {
        Unexpected(cursor, "after the header " + header.typed);
    }
    return header;
}

// Resolves the header against the path; on success the path moves on.
const CommandRow& Resolve(const Header& header, std::vector<std::string_view>& path, const CommandTable& table) {
    std::vector<std::string_view> nodes = header.nodes;
    const CommandRow* command = nullptr;
    if (!header.common && !header.rooted && !path.empty()) {
        std::vector<std::string_view> fromPath = path;
        fromPath.insert(fromPath.end(), nodes.begin(), nodes.end());
        command = table.Find(fromPath, header.query);
        if (command) nodes = std::move(fromPath);
    }
    if (!command) command = table.Find(nodes, header.query);
    if (!command) Fail(ErrorCode::UndefinedHeader, header.typed);
    if (!header.common) path.assign(nodes.begin(), nodes.end() - 1);
    return *command;
}

}  // namespace

ParsedMessage ParseMessage(std::string_view message, const CommandTable& table) {
    ParsedMessage parsed;
    MessageCursor cursor(message);
    std::vector<std::string_view> path;
    try {
        while (true) {
            cursor.SkipWhite();
            if (cursor.AtEnd()) break;
            if (cursor.Take(';')) continue;   // an empty unit
            const Header header = HeaderAt(cursor);
            ProgramUnit unit{&Resolve(header, path, table), header.query, header.typed, {}};
            cursor.SkipWhite();
            while (!cursor.AtEnd() && cursor.Peek() != ';') {
                unit.parameters.push_back(ParameterAt(cursor));
                cursor.SkipWhite();
                if (cursor.AtEnd() || cursor.Peek() == ';') break;
                if (!cursor.Take(',')) Unexpected(cursor, "after a parameter of " + header.typed);
                cursor.SkipWhite();
                if (cursor.AtEnd() || cursor.Peek() == ';') {
                    Fail(ErrorCode::SyntaxError, "a parameter of " + header.typed + " is missing after ','");
                }
            }
            parsed.units.push_back(std::move(unit));
        }
    } catch (const Failure& failure) {
        parsed.error = failure.error;
    }
    return parsed;
}

}  // namespace tarnel::scpi
