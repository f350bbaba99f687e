#include "imaging/c_array_reader.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace imaging {
namespace {

enum class Kind { Identifier, Number, Punct, End };

struct Token {
    Kind kind = Kind::End;
    std::string_view text;
    int line = 0;
    bool is(char c) const { return kind == Kind::Punct && text.size() == 1 && text[0] == c; }
};

bool isIdentifierStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isIdentifierChar(char c) {
    return isIdentifierStart(c) || isDigit(c);
}

// Splits C text into the few kinds of tokens the arrays need. Comments, preprocessor lines and
// the insides of string and character literals never reach the parser, so braces in them do
// not count.
class Lexer {
  public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    Token next() {
        if (m_pushed) {
            return *std::exchange(m_pushed, std::nullopt);
        }
        skipBlanks();
        Token t{Kind::End, {}, m_line};
        if (m_pos >= m_text.size()) {
            return t;
        }
        const std::size_t start = m_pos;
        const char c = m_text[m_pos];
        if (isIdentifierStart(c)) {
            while (m_pos < m_text.size() && isIdentifierChar(m_text[m_pos])) {
                ++m_pos;
            }
            t.kind = Kind::Identifier;
        } else if (isDigit(c)) {
            // A preprocessing number: digits, letters (bases and suffixes), points and C23's
            // separators.
            while (m_pos < m_text.size() && (isIdentifierChar(m_text[m_pos]) ||
                                             m_text[m_pos] == '\'' || m_text[m_pos] == '.')) {
                ++m_pos;
            }
            t.kind = Kind::Number;
        } else if (c == '"' || c == '\'') {
            ++m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] != c && m_text[m_pos] != '\n') {
                m_pos += m_text[m_pos] == '\\' ? 2 : 1;
            }
            m_pos = std::min(m_pos + 1, m_text.size());
            t.kind = Kind::Punct;
        } else {
            ++m_pos;
            t.kind = Kind::Punct;
        }
        t.text = m_text.substr(start, m_pos - start);
        m_lineStart = false;
        return t;
    }

    void pushBack(const Token& t) { m_pushed = t; }

    // The "#define NAME VALUE" lines seen so far whose VALUE is a decimal number.
    const std::map<std::string, int, std::less<>>& defines() const { return m_defines; }

  private:
    void newLine() {
        ++m_line;
        m_lineStart = true;
    }

    void skipBlanks() {
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '\n') {
                newLine();
                ++m_pos;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
                ++m_pos;
            } else if (m_text.compare(m_pos, 2, "/*") == 0) {
                const std::size_t end = m_text.find("*/", m_pos + 2);
                const std::size_t stop = end == std::string_view::npos ? m_text.size() : end + 2;
                countLines(m_pos, stop);
                m_pos = stop;
            } else if (c == '#' && m_lineStart) {
                const std::size_t start = m_pos;
                skipLine();
                noteDefine(m_text.substr(start + 1, m_pos - start - 1));
            } else if (m_text.compare(m_pos, 2, "//") == 0) {
                skipLine();
            } else {
                return;
            }
        }
    }

    // To the end of the line, following backslash continuations.
    void skipLine() {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
            if (m_text[m_pos] == '\\' && m_pos + 1 < m_text.size() &&
                (m_text[m_pos + 1] == '\n' ||
                 (m_text[m_pos + 1] == '\r' && m_text.compare(m_pos + 1, 2, "\r\n") == 0))) {
                m_pos = m_text.find('\n', m_pos);
                newLine();
            }
            ++m_pos;
        }
    }

    void noteDefine(std::string_view line) {
        auto word = [&] {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == line.npos) {
                return std::string_view();
            }
            const std::size_t end = std::min(line.find_first_of(" \t\r\n", start), line.size());
            std::string_view w = line.substr(start, end - start);
            line.remove_prefix(end);
            return w;
        };
        if (word() != "define") {
            return;
        }
        const std::string_view name = word();
        const std::string_view value = word();
        if (!name.empty() && !value.empty() && value.size() <= 9 &&
            std::all_of(value.begin(), value.end(), isDigit)) {
            m_defines[std::string(name)] = std::stoi(std::string(value));
        }
    }

    void countLines(std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) {
            if (m_text[k] == '\n') {
                ++m_line;
            }
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
    bool m_lineStart = true;
    std::optional<Token> m_pushed;
    std::map<std::string, int, std::less<>> m_defines;
};

// The value of an integer literal, saturated above 255; nothing when it is not one.
std::optional<unsigned> byteValue(std::string_view literal) {
    std::string digits;
    for (const char c : literal) {
        if (c != '\'') {
            digits += c;
        }
    }
    while (!digits.empty() && (digits.back() == 'u' || digits.back() == 'U' ||
                               digits.back() == 'l' || digits.back() == 'L')) {
        digits.pop_back();
    }
    unsigned base = 10;
    std::size_t at = 0;
    if (digits.size() > 1 && digits[0] == '0') {
        const char prefix = digits[1];
        base = prefix == 'x' || prefix == 'X' ? 16 : prefix == 'b' || prefix == 'B' ? 2 : 8;
        at = base == 8 ? 1 : 2;
        if (at == digits.size()) {
            return std::nullopt;
        }
    }
    unsigned value = 0;
    for (; at < digits.size(); ++at) {
        const char c = digits[at];
        unsigned digit = 99;
        if (isDigit(c)) {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        }
        if (digit >= base) {
            return std::nullopt;
        }
        value = std::min(value * base + digit, 256u);
    }
    return value;
}

bool endsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

std::string lineError(int line, std::string_view name, const std::string& what) {
    return "line " + std::to_string(line) + ": " + std::string(name) + ": " + what;
}

struct Found {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// The values after "NAME[...] = {", up to the closing brace, or up to the next declaration
// or the end of the text when the array was left open.
std::optional<std::string> readValues(Lexer& lexer, Found& array) {
    bool wantValue = true;
    for (;;) {
        const Token t = lexer.next();
        if (t.kind == Kind::End || t.is('}')) {
            return std::nullopt;
        }
        if (t.kind == Kind::Identifier) {
            lexer.pushBack(t);
            return std::nullopt;
        }
        if (t.is(',')) {
            if (wantValue) {
                return lineError(t.line, array.name, "a value is missing before a comma");
            }
            wantValue = true;
            continue;
        }
        if (t.kind != Kind::Number) {
            return lineError(t.line, array.name,
                             std::string(1, '\'').append(t.text).append("' is not a byte value"));
        }
        if (!wantValue) {
            return lineError(t.line, array.name,
                             "a comma is missing before " + std::string(t.text));
        }
        const auto value = byteValue(t.text);
        if (!value) {
            return lineError(t.line, array.name, std::string(t.text) + " is not a number C knows");
        }
        if (*value > 255) {
            return lineError(t.line, array.name,
                             std::string(t.text) + " is more than a byte holds (255)");
        }
        array.bytes.push_back(static_cast<std::uint8_t>(*value));
        wantValue = false;
    }
}

} // namespace

CArraysRead readCArrays(std::string_view text) {
    CArraysRead result;
    std::vector<Found> found;
    Lexer lexer(text);
    Token previous;
    for (Token t = lexer.next(); t.kind != Kind::End; previous = t, t = lexer.next()) {
        if (!t.is('[') || previous.kind != Kind::Identifier) {
            continue;
        }
        // NAME [ size ] = {
        Token u = lexer.next();
        while (u.kind != Kind::End && !u.is(']') && !u.is(';') && !u.is('{')) {
            u = lexer.next();
        }
        if (!u.is(']') || !lexer.next().is('=')) {
            continue;
        }
        if (const Token brace = lexer.next(); !brace.is('{')) {
            lexer.pushBack(brace);
            continue;
        }
        found.push_back({std::string(previous.text), {}});
        if (auto error = readValues(lexer, found.back())) {
            result.error = std::move(*error);
            return result;
        }
        t = Token{};
    }
    if (found.size() != 2) {
        result.error = found.empty()      ? "no array of bytes in it"
                       : found.size() > 2 ? std::to_string(found.size()) + " arrays in it, not two"
                                          : "only one array (" + found[0].name + ") in it, not two";
        return result;
    }
    if (endsWith(found[0].name, "_l") && endsWith(found[1].name, "_d")) {
        std::swap(found[0], found[1]);
    }
    if (found[0].bytes.size() != found[1].bytes.size()) {
        result.error = found[0].name + " holds " + std::to_string(found[0].bytes.size()) +
                       " bytes and " + found[1].name + " " + std::to_string(found[1].bytes.size()) +
                       ": the planes must be as long";
        return result;
    }
    result.arrays = {std::move(found[0].name),
                     std::move(found[1].name),
                     std::move(found[0].bytes),
                     std::move(found[1].bytes),
                     0,
                     0};
    const std::string& dark = result.arrays.darkName;
    if (endsWith(dark, "_d")) {
        const std::string prefix = dark.substr(0, dark.size() - 2);
        const auto& defines = lexer.defines();
        if (const auto w = defines.find(prefix + "_width"); w != defines.end()) {
            result.arrays.width = w->second;
        }
        if (const auto h = defines.find(prefix + "_height"); h != defines.end()) {
            result.arrays.height = h->second;
        }
    }
    return result;
}

} // namespace imaging
