#include "ctext/c_array_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <unordered_map>

namespace ctext {
namespace {

// Reads of 64 KiB cost no more calls than a pipe needs anyway.
constexpr std::size_t kBufferBytes = std::size_t{64} << 10;
// Longer identifiers and numbers are kept cut; they are refused where they are used.
constexpr std::size_t kMaxToken = 4096;
constexpr std::size_t kMaxComment = std::size_t{64} << 10;
// Identifiers read ahead to tell a following declaration from a name inside an initialiser.
constexpr std::size_t kMaxTypeWords = 16;
// Tokens read after an array's brackets while looking for its `= {`.
constexpr std::size_t kMaxAfterBrackets = 256;

struct Refusal {
    std::string reason;
};

[[noreturn]] void refuse(std::uint64_t line, const std::string& what) {
    throw Refusal{"line " + std::to_string(line) + ": " + what};
}

std::string quoted(std::string_view token) {
    std::string out(1, '\'');
    out += excerpt(token);
    out += '\'';
    return out;
}

// The bytes of the text, from a read function through a buffer of fixed size, or in memory.
class Bytes {
  public:
    explicit Bytes(std::string_view text) : m_data(text.data()), m_end(text.size()) {}
    explicit Bytes(const ReadFunction& read)
        : m_read(&read), m_buffer(new char[kBufferBytes]), m_data(m_buffer.get()) {}

    // The byte k ahead (k < 4), or -1 past the end.
    int at(std::size_t k) {
        if (m_pos + k >= m_end && !fill(k)) {
            return -1;
        }
        return static_cast<unsigned char>(m_data[m_pos + k]);
    }
    void skip(std::size_t n) { m_pos += n; }

  private:
    bool fill(std::size_t k) {
        if (m_read == nullptr || m_done) {
            return false;
        }
        std::memmove(m_buffer.get(), m_buffer.get() + m_pos, m_end - m_pos);
        m_end -= m_pos;
        m_pos = 0;
        while (m_end <= k) {
            const std::span<char> room(m_buffer.get() + m_end, kBufferBytes - m_end);
            const std::ptrdiff_t got = (*m_read)(room);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw Refusal{std::strerror(errno)};
            }
            if (got == 0 || static_cast<std::size_t>(got) > room.size()) {
                m_done = true;
                return false;
            }
            m_end += static_cast<std::size_t>(got);
        }
        return true;
    }

    const ReadFunction* m_read = nullptr;
    std::unique_ptr<char[]> m_buffer; // not cleared: only what was read is looked at
    const char* m_data;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_done = false;
};

// The characters as C sees them after splicing lines: any line end (CR LF, LF or CR) is '\n',
// a backslash before a line end joins the lines, and -1 is the end.
class Chars {
  public:
    explicit Chars(Bytes& bytes) : m_bytes(bytes) {}

    // The character k ahead (k < 2).
    int peek(std::size_t k = 0) {
        while (m_count <= k) {
            m_queue[m_count++] = cook();
        }
        return m_queue[k].c;
    }
    std::uint64_t line() {
        peek();
        return m_queue[0].line;
    }
    void advance() {
        peek();
        m_queue[0] = m_queue[1];
        m_queue[1] = m_queue[2];
        --m_count;
    }

  private:
    struct Char {
        int c;
        std::uint64_t line;
    };

    Char cook() {
        for (;;) {
            const int c = m_bytes.at(0);
            if (c < 0) {
                return {-1, m_line};
            }
            if (c == 0) {
                refuse(m_line, "a NUL byte, which C text never holds");
            }
            if (c == '\r' || c == '\n') {
                m_bytes.skip(c == '\r' && m_bytes.at(1) == '\n' ? 2 : 1);
                return {'\n', m_line++};
            }
            if (c == '\\') {
                const int n = m_bytes.at(1);
                if (n == '\r' || n == '\n') {
                    m_bytes.skip(n == '\r' && m_bytes.at(2) == '\n' ? 3 : 2);
                    ++m_line;
                    continue;
                }
            }
            m_bytes.skip(1);
            return {c, m_line};
        }
    }

    Bytes& m_bytes;
    Char m_queue[3] = {};
    std::size_t m_count = 0;
    std::uint64_t m_line = 1;
};

bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
bool isIdentifierStart(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}
bool isIdentifierChar(int c) {
    return isIdentifierStart(c) || isDigit(c);
}

unsigned digitValue(char c) {
    if (isDigit(c)) {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return 99;
}

// u or U at most once, before or after one of l, L, ll, LL, wb, WB.
bool validSuffix(std::string_view s) {
    auto length = [](std::string_view rest) {
        return rest.empty() || rest == "l" || rest == "L" || rest == "ll" || rest == "LL" ||
               rest == "wb" || rest == "WB";
    };
    if (!s.empty() && (s.front() == 'u' || s.front() == 'U')) {
        return length(s.substr(1));
    }
    if (!s.empty() && (s.back() == 'u' || s.back() == 'U')) {
        return length(s.substr(0, s.size() - 1));
    }
    return length(s);
}

// Words that may stand between an array's brackets and its `=` without changing its values:
// attributes with their arguments, and macros in capitals without arguments (PROGMEM,
// U8X8_PROGMEM, LV_ATTRIBUTE_LARGE_CONST), which only say where the array is kept.
bool storageWord(std::string_view word, bool arguments) {
    if (word == "__attribute__" || word == "__attribute" || word == "alignas" ||
        word == "_Alignas" || word == "__declspec") {
        return arguments;
    }
    const bool capitals =
        std::any_of(word.begin(), word.end(), [](char c) { return c >= 'A' && c <= 'Z'; }) &&
        std::all_of(word.begin(), word.end(),
                    [](char c) { return (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_'; });
    return capitals && !arguments;
}

enum class Kind { Identifier, Number, String, Punct, LineEnd, End };

struct Token {
    Kind kind = Kind::End;
    std::string text;
    std::uint64_t line = 0;
    bool cut = false; // longer than kMaxToken; text holds its start
    bool is(char c) const { return kind == Kind::Punct && text.size() == 1 && text[0] == c; }
};

class Reader {
  public:
    Reader(Bytes& bytes, std::uint64_t budget) : m_chars(bytes), m_budget(budget) {}

    CText run() {
        std::vector<std::string> words; // the type words of the current declaration
        bool declarator = false;
        // Words in parentheses (`alignas(uint32_t)`, `__attribute__((aligned(4)))`) are no
        // type words.
        std::size_t parentheses = 0;
        for (;;) {
            Token t = next();
            if (t.kind == Kind::End) {
                break;
            }
            if (t.is(';') || t.is('{') || t.is('}')) {
                words.clear();
                declarator = false;
                parentheses = 0;
            } else if (t.is('(')) {
                ++parentheses;
            } else if (t.is(')')) {
                parentheses -= parentheses > 0 ? 1 : 0;
            } else if (t.kind == Kind::Identifier) {
                Token u = next();
                if (u.is('[')) {
                    // A declaration goes on after a closed array (`a[] = {1}, b[] = {2};`),
                    // and a new one starts after an array left open.
                    declarator = array(t, words) != Ended::Open;
                    if (!declarator) {
                        words.clear();
                    }
                    continue;
                }
                pushBack(std::move(u));
                if (!declarator && parentheses == 0 && words.size() < kMaxTypeWords) {
                    words.push_back(std::move(t.text));
                }
            }
        }
        finish();
        return std::move(m_text);
    }

  private:
    // ---- tokens ----

    Token next(bool directive = false) {
        if (!m_pushed.empty()) {
            Token t = std::move(m_pushed.back());
            m_pushed.pop_back();
            return t;
        }
        for (;;) {
            const int c = m_chars.peek();
            if (c == ' ' || c == '\t' || c == '\v' || c == '\f') {
                m_chars.advance();
            } else if (c == '\n') {
                if (directive) {
                    return {Kind::LineEnd, {}, m_chars.line()};
                }
                m_chars.advance();
                m_lineStart = true;
            } else if (c == '/' && m_chars.peek(1) == '*') {
                blockComment();
            } else if (c == '/' && m_chars.peek(1) == '/') {
                lineComment();
            } else if (c == '#' && m_lineStart && !directive) {
                m_lineStart = false;
                m_chars.advance();
                preprocess();
            } else {
                break;
            }
        }
        m_lineStart = false;
        Token t = lex(directive);
        if (!directive && t.kind != Kind::End) {
            if (m_depth > 0) {
                notConditional();
            }
            content(t.line);
        }
        return t;
    }

    void pushBack(Token t) { m_pushed.push_back(std::move(t)); }

    Token lex(bool directive) {
        Token t;
        t.line = m_chars.line();
        const int c = m_chars.peek();
        if (c < 0) {
            return t;
        }
        auto take = [&](int ch) {
            if (t.text.size() < kMaxToken) {
                t.text += static_cast<char>(ch);
            } else {
                t.cut = true;
            }
            m_chars.advance();
        };
        if (isIdentifierStart(c)) {
            t.kind = Kind::Identifier;
            while (isIdentifierChar(m_chars.peek())) {
                take(m_chars.peek());
            }
        } else if (isDigit(c) || (c == '.' && isDigit(m_chars.peek(1)))) {
            // A preprocessing number: digits, letters, points, signs after an exponent's
            // letter, and a separator before a digit or letter; `0xE+1` is one of them.
            t.kind = Kind::Number;
            int last = 0;
            for (int d = c;; d = m_chars.peek()) {
                const bool sign = (d == '+' || d == '-') &&
                                  (last == 'e' || last == 'E' || last == 'p' || last == 'P');
                if (d == '\'' && isIdentifierChar(m_chars.peek(1))) {
                    take(d);
                    d = m_chars.peek();
                } else if (!isIdentifierChar(d) && d != '.' && !sign) {
                    break;
                }
                take(d);
                last = d;
            }
        } else if (c == '"' || c == '\'') {
            t.kind = Kind::String;
            take(c);
            for (;;) {
                const int d = m_chars.peek();
                if (d == '\n' || d < 0) {
                    // A directive line may hold any words (`#error don't`).
                    if (!directive) {
                        refuse(t.line, "a string or character constant is not closed on its line");
                    }
                    break;
                }
                take(d);
                if (d == c) {
                    break;
                }
                if (d == '\\' && m_chars.peek() != '\n' && m_chars.peek() >= 0) {
                    take(m_chars.peek());
                }
            }
        } else {
            t.kind = Kind::Punct;
            take(c);
        }
        return t;
    }

    void blockComment() {
        const std::uint64_t line = m_chars.line();
        const bool keep = !m_commented;
        m_commented = true;
        m_chars.advance();
        m_chars.advance();
        for (;;) {
            const int c = m_chars.peek();
            if (c < 0) {
                refuse(line, "the text ends inside the comment that starts here");
            }
            if (c == '*' && m_chars.peek(1) == '/') {
                m_chars.advance();
                m_chars.advance();
                return;
            }
            if (keep && m_text.firstComment.size() < kMaxComment) {
                m_text.firstComment += static_cast<char>(c);
            }
            m_chars.advance();
        }
    }

    void lineComment() {
        const bool keep = !m_commented;
        m_commented = true;
        m_chars.advance();
        m_chars.advance();
        for (int c = m_chars.peek(); c != '\n' && c >= 0; c = m_chars.peek()) {
            if (keep && m_text.firstComment.size() < kMaxComment) {
                m_text.firstComment += static_cast<char>(c);
            }
            m_chars.advance();
        }
    }

    // ---- the preprocessor lines ----

    // Something other than a comment: nothing may stand between an include guard's #ifndef
    // and its #define, nor after its #endif.
    void content(std::uint64_t line) {
        if (m_guard == Guard::Expected) {
            refuse(line, "#ifndef " + excerpt(m_guardName) + " is not followed by #define " +
                             excerpt(m_guardName) +
                             ": conditional compilation is not read, only an include guard "
                             "around the whole text");
        }
        if (m_guard == Guard::Closed) {
            refuse(line, "text after the #endif of the include guard " + excerpt(m_guardName) +
                             ": conditional compilation is not read, only an include guard "
                             "around the whole text");
        }
        m_content = true;
    }

    void skipLine() {
        for (Token t = next(true); t.kind != Kind::LineEnd && t.kind != Kind::End; t = next(true)) {
        }
    }

    void preprocess() {
        const Token name = next(true);
        const std::uint64_t line = name.line;
        if (name.kind != Kind::Identifier) {
            if (name.kind != Kind::LineEnd && name.kind != Kind::End) {
                content(line);
                skipLine();
            }
            return;
        }
        const std::string& d = name.text;
        if (m_depth > 0 && d != "include" && !isConditional(d)) {
            notConditional();
        }
        if (d == "if" || d == "ifdef" || d == "ifndef" || d == "elif" || d == "else" ||
            d == "endif" || d == "elifdef" || d == "elifndef") {
            conditional(d, line);
        } else if (d == "define") {
            define(line);
        } else if (d == "undef") {
            content(line);
            const Token n = next(true);
            if (const auto found = m_defineIndex.find(n.text); found != m_defineIndex.end()) {
                // Kept in place, so that the indices stay; an undefined name reads as absent.
                m_text.defines[found->second].first.clear();
                m_defineIndex.erase(found);
            }
            skipLine();
        } else {
            content(line);
            if (d == "embed" && m_open) {
                refuse(line, arrayName() + ": #embed inside an array is not read");
            }
            skipLine();
        }
    }

    static bool isConditional(const std::string& d) {
        return d == "if" || d == "ifdef" || d == "ifndef" || d == "elif" || d == "else" ||
               d == "endif" || d == "elifdef" || d == "elifndef";
    }

    // What stands inside a conditional other than #include lines and conditionals, refused
    // with the line of the conditional: both of its branches would be read.
    [[noreturn]] void notConditional() {
        refuse(m_conditionalLine, "#" + m_conditional + std::string(kConditionalRule));
    }

    static constexpr std::string_view kConditionalRule =
        ": conditional compilation is not read, only an include guard around the whole text and "
        "a choice of #include lines";

    void conditional(const std::string& d, std::uint64_t line) {
        if (d == "ifndef" && !m_content && m_guard == Guard::None) {
            const Token g = next(true);
            if (g.kind == Kind::Identifier && !g.cut) {
                m_guard = Guard::Expected;
                m_guardName = g.text;
                m_guardLine = line;
                skipLine();
                return;
            }
        }
        if (d == "endif" && m_guard == Guard::Open && m_depth == 0) {
            if (m_open) {
                refuse(line, arrayName() + ": its closing '}' is missing before #endif");
            }
            m_guard = Guard::Closed;
            skipLine();
            return;
        }
        content(line);
        const bool opens = d == "if" || d == "ifdef" || d == "ifndef";
        if (m_open || (!opens && m_depth == 0)) {
            refuse(line, "#" + d + std::string(kConditionalRule));
        }
        if (opens && m_depth++ == 0) {
            m_conditional = d;
            m_conditionalLine = line;
        }
        if (d == "endif") {
            --m_depth;
        }
        skipLine();
    }

    void define(std::uint64_t line) {
        const Token n = next(true);
        if (m_guard == Guard::Expected) {
            if (n.kind != Kind::Identifier || n.text != m_guardName) {
                content(line);
            }
            m_guard = Guard::Open;
            skipLine();
            return;
        }
        content(line);
        // Only `#define NAME integer` is kept; macros with parameters or other values are not.
        if (n.kind != Kind::Identifier || n.cut || m_chars.peek() == '(') {
            skipLine();
            return;
        }
        const Token v = next(true);
        if (v.kind == Kind::LineEnd || v.kind == Kind::End) {
            return;
        }
        if (v.kind != Kind::Number || v.text.find('.') != std::string::npos) {
            skipLine();
            return;
        }
        const Token after = next(true);
        if (after.kind != Kind::LineEnd && after.kind != Kind::End) {
            skipLine();
            return;
        }
        const std::uint64_t value = integer(v, "#define ", n.text);
        spend(n.text.size() + 48, line);
        if (const auto found = m_defineIndex.find(n.text); found != m_defineIndex.end()) {
            m_text.defines[found->second].second = value;
        } else {
            m_defineIndex.emplace(n.text, m_text.defines.size());
            m_text.defines.emplace_back(n.text, value);
        }
    }

    // ---- values ----

    // An integer constant by C's rules: decimal, 0x hexadecimal, 0b binary, octal with a
    // leading 0, separators only between digits, and a valid suffix.
    // Refusals read "BEFORE NAME AFTER'TOKEN' is ...".
    static std::uint64_t integer(const Token& t, std::string_view before, std::string_view name,
                                 std::string_view after = ": ") {
        const std::string_view s = t.text;
        unsigned base = 10;
        std::size_t i = 0;
        if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            base = 16;
            i = 2;
        } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'b' || s[1] == 'B')) {
            base = 2;
            i = 2;
        } else if (!s.empty() && s[0] == '0') {
            base = 8;
            i = 1;
        }
        bool digits = base == 8; // the leading 0 of an octal constant is a digit
        bool valid = !s.empty() && isDigit(s[0]) && !t.cut;
        bool overflow = false;
        std::uint64_t value = 0;
        for (; valid && i < s.size(); ++i) {
            if (s[i] == '\'') {
                valid = digits && i + 1 < s.size() && digitValue(s[i + 1]) < base;
                continue;
            }
            const unsigned d = digitValue(s[i]);
            if (d >= base) {
                break;
            }
            digits = true;
            if (value > (UINT64_MAX - d) / base) {
                overflow = true;
            }
            value = value * base + d;
        }
        if (!valid || !digits || !validSuffix(s.substr(i)) || overflow) {
            refuse(t.line, std::string(before) + excerpt(name) + std::string(after) + quoted(s) +
                               (overflow ? " is too large for any integer type of C"
                                         : " is not an integer constant C knows"));
        }
        return value;
    }

    // The bits of an element from the words before the name; a type C does not name (a
    // typedef) or none is read as bytes, as the classic reader took every array.
    static int elementBits(const std::vector<std::string>& words, const Token& name) {
        int fixed = 0;
        int chars = 0;
        int shorts = 0;
        int longs = 0;
        int ints = 0;
        for (const std::string& w : words) {
            if (w == "char") {
                ++chars;
            } else if (w == "short") {
                ++shorts;
            } else if (w == "long") {
                ++longs;
            } else if (w == "int" || w == "unsigned" || w == "signed") {
                ++ints;
            } else if (w == "uint8_t" || w == "int8_t") {
                fixed = 8;
            } else if (w == "uint16_t" || w == "int16_t") {
                fixed = 16;
            } else if (w == "uint32_t" || w == "int32_t") {
                fixed = 32;
            } else if (w == "float" || w == "double" || w == "uint64_t" || w == "int64_t" ||
                       w == "bool" || w == "_Bool") {
                refuse(name.line, excerpt(name.text) + ": elements of type " + w +
                                      " are not read; 8, 16 or 32-bit integers are");
            }
        }
        if (longs >= 2) {
            refuse(name.line, excerpt(name.text) +
                                  ": elements of type long long are not read; 8, 16 or 32-bit "
                                  "integers are");
        }
        return fixed != 0 ? fixed : chars ? 8 : shorts ? 16 : longs || ints ? 32 : 8;
    }

    std::string arrayName() const { return excerpt(m_text.arrays.back().name); }

    void spend(std::uint64_t bytes, std::uint64_t line) {
        m_spent += bytes;
        if (m_spent > m_budget) {
            refuse(line, "the arrays hold more than " + std::to_string(m_budget >> 20) +
                             " MiB, more than a picture needs");
        }
    }

    enum class Ended { NotAnArray, Closed, Open };

    // After `NAME [`: reads the array if it is one with an initialiser, or leaves the tokens
    // after the brackets to the caller.
    Ended array(const Token& name, const std::vector<std::string>& words) {
        std::vector<Token> size;
        Token t = next();
        for (; !t.is(']'); t = next()) {
            if (t.kind == Kind::End || t.is(';') || t.is('{') || t.is('}') || size.size() > 64) {
                pushBack(std::move(t));
                return Ended::NotAnArray;
            }
            size.push_back(std::move(t));
        }
        // Up to `= {`: more brackets, or storage words such as PROGMEM. What was read is given
        // back when no initialiser follows.
        std::vector<Token> after;
        auto giveBack = [&](Token last) {
            pushBack(std::move(last));
            while (!after.empty()) {
                pushBack(std::move(after.back()));
                after.pop_back();
            }
            return Ended::NotAnArray;
        };
        auto stops = [&](const Token& t) {
            return t.kind == Kind::End || t.is(';') || t.is('{') || t.is('}') ||
                   after.size() > kMaxAfterBrackets;
        };
        bool nested = false;
        std::string unread; // the first word after the brackets that is not a storage word
        Token u = next();
        while (!u.is('=')) {
            nested = nested || u.is('[');
            if (stops(u) || (!nested && u.kind != Kind::Identifier)) {
                return giveBack(std::move(u));
            }
            if (nested) {
                after.push_back(std::move(u));
                u = next();
                continue;
            }
            const std::string word = u.text;
            after.push_back(std::move(u));
            u = next();
            const bool arguments = u.is('(');
            if (arguments) {
                std::size_t depth = 0;
                do {
                    if (stops(u)) {
                        return giveBack(std::move(u));
                    }
                    depth += u.is('(') ? 1 : 0;
                    depth -= u.is(')') ? 1 : 0;
                    after.push_back(std::move(u));
                    u = next();
                } while (depth > 0);
            }
            if (unread.empty() && !storageWord(word, arguments)) {
                unread = word + (arguments ? "(...)" : "");
            }
        }
        Token brace = next();
        if (!brace.is('{')) {
            after.push_back(std::move(u));
            return giveBack(std::move(brace));
        }
        if (name.cut) {
            refuse(name.line, "an array's name of more than 4096 bytes: " + quoted(name.text));
        }
        if (nested) {
            refuse(name.line, excerpt(name.text) + ": arrays of arrays are not read");
        }
        if (!unread.empty()) {
            refuse(name.line, excerpt(name.text) + ": " + quoted(unread) +
                                  " after its brackets is not read; PROGMEM, "
                                  "__attribute__((...)), alignas(...), _Alignas(...) and macros "
                                  "in capitals without arguments are");
        }
        CArray a;
        a.name = name.text;
        a.line = name.line;
        a.elementBits = elementBits(words, name);
        if (size.size() == 1 && size[0].kind == Kind::Number) {
            a.declaredSize = integer(size[0], "", name.text, ": its size ");
        } else if (size.size() == 1 && m_defineIndex.count(size[0].text)) {
            a.declaredSize = m_text.defines[m_defineIndex.at(size[0].text)].second;
        } else if (!size.empty()) {
            refuse(name.line, excerpt(name.text) + ": its size " + quoted(size[0].text) +
                                  " is not a number or a #define'd number");
        }
        const std::uint64_t bytesEach = static_cast<std::uint64_t>(a.elementBits / 8);
        spend(a.name.size() + 64, a.line);
        if (a.declaredSize) {
            if (*a.declaredSize > m_budget / bytesEach) {
                refuse(a.line, excerpt(a.name) + ": a size of " + std::to_string(*a.declaredSize) +
                                   " elements is more than a picture needs");
            }
            // Declared sizes are counted now and filled in at the end, so that a short text
            // declaring more than a picture needs is refused before anything is allocated.
            spend(*a.declaredSize * bytesEach, a.line);
        }
        m_text.arrays.push_back(std::move(a));
        m_open = true;
        const bool closed = values(m_text.arrays.back());
        m_open = false;
        m_anyClosed = m_anyClosed || closed;
        if (!closed) {
            m_openArrays.push_back(m_text.arrays.size() - 1);
        }
        return closed ? Ended::Closed : Ended::Open;
    }

    // The initialiser after its `{`: true when it closes, false when it is left open (at the
    // end of the text, or before the next declaration after a comma).
    bool values(CArray& a) {
        const std::size_t bytesEach = static_cast<std::size_t>(a.elementBits / 8);
        const std::uint64_t max = (std::uint64_t{1} << a.elementBits) - 1;
        std::uint64_t count = 0;
        bool wantValue = true;
        std::uint64_t lastLine = a.line;
        for (;;) {
            Token t = next();
            if (t.kind == Kind::End) {
                if (!wantValue) {
                    refuse(lastLine, excerpt(a.name) +
                                         ": the text ends inside a value, or after a value "
                                         "without its comma");
                }
                return false;
            }
            if (t.is('}')) {
                return true;
            }
            if (t.is(',')) {
                if (wantValue) {
                    refuse(t.line, excerpt(a.name) + ": a value is missing before a comma");
                }
                wantValue = true;
                continue;
            }
            if (t.kind == Kind::Number) {
                if (!wantValue) {
                    refuse(t.line,
                           excerpt(a.name) + ": a comma is missing before " + quoted(t.text));
                }
                const std::uint64_t v = integer(t, "", a.name);
                if (v > max) {
                    refuse(t.line, excerpt(a.name) + ": " + quoted(t.text) + " is more than " +
                                       (a.elementBits == 8
                                            ? std::string("a byte holds (255)")
                                            : std::to_string(a.elementBits) + " bits hold (" +
                                                  std::to_string(max) + ")"));
                }
                if (a.declaredSize && count == *a.declaredSize) {
                    refuse(t.line, excerpt(a.name) + ": more values than its declared size " +
                                       std::to_string(*a.declaredSize));
                }
                if (!a.declaredSize) {
                    spend(bytesEach, t.line);
                }
                for (int shift = a.elementBits - 8; shift >= 0; shift -= 8) {
                    a.data.push_back(static_cast<std::uint8_t>(v >> shift));
                }
                ++count;
                wantValue = false;
                lastLine = t.line;
                continue;
            }
            if (t.kind == Kind::Identifier && wantValue && startsDeclaration(t)) {
                return false;
            }
            refuse(t.line, excerpt(a.name) + ": " + quoted(t.text) + " is not a value" +
                               (t.kind == Kind::Identifier ? " (only numbers are read)" : ""));
        }
    }

    // Whether the identifiers from t on end in `NAME [`, as the next declaration after an
    // array left open does; they stay to be read again either way.
    bool startsDeclaration(Token& t) {
        std::vector<Token> ahead;
        ahead.push_back(std::move(t));
        while (ahead.back().kind == Kind::Identifier && ahead.size() <= kMaxTypeWords) {
            ahead.push_back(next());
        }
        const bool declaration = ahead.back().is('[') && ahead.size() >= 2;
        t = ahead.front();
        while (!ahead.empty()) {
            pushBack(std::move(ahead.back()));
            ahead.pop_back();
        }
        if (!declaration) {
            m_pushed.pop_back(); // t itself: the caller reports it
        }
        return declaration;
    }

    void finish() {
        // A text with a closed array or an include guard is complete: an array left open in
        // it has lost its end.
        if (!m_openArrays.empty() && (m_anyClosed || m_guard != Guard::None)) {
            const CArray& a = m_text.arrays[m_openArrays.front()];
            refuse(a.line,
                   excerpt(a.name) + ": its closing '}' is missing (the text is cut short?)");
        }
        if (m_depth > 0) {
            refuse(m_conditionalLine,
                   "the text ends inside the #" + m_conditional + " that starts here");
        }
        if (m_guard == Guard::Expected || m_guard == Guard::Open) {
            refuse(m_guardLine, "the text ends inside the include guard #ifndef " +
                                    excerpt(m_guardName) + ": its #endif is missing");
        }
        // Names a later #undef removed.
        std::erase_if(m_text.defines, [](const auto& d) { return d.first.empty(); });
        // The elements a declared size adds, zero, now that the whole text is within budget.
        for (CArray& a : m_text.arrays) {
            if (a.declaredSize) {
                a.data.resize(static_cast<std::size_t>(*a.declaredSize) *
                              static_cast<std::size_t>(a.elementBits / 8));
            }
        }
    }

    enum class Guard { None, Expected, Open, Closed };

    Chars m_chars;
    CText m_text;
    std::vector<Token> m_pushed;
    std::unordered_map<std::string, std::size_t> m_defineIndex;
    std::vector<std::size_t> m_openArrays;
    std::uint64_t m_budget;
    std::uint64_t m_spent = 0;
    bool m_lineStart = true;
    bool m_commented = false;
    bool m_content = false;
    bool m_open = false;
    bool m_anyClosed = false;
    Guard m_guard = Guard::None;
    std::size_t m_depth = 0;   // conditionals open, the include guard not counted
    std::string m_conditional; // the outermost one's directive
    std::uint64_t m_conditionalLine = 0;
    std::string m_guardName;
    std::uint64_t m_guardLine = 0;
};

base::Result<CText> readFrom(Bytes& bytes, std::uint64_t budget) {
    try {
        Reader reader(bytes, budget);
        return reader.run();
    } catch (const Refusal& refusal) {
        return base::Error{{}, refusal.reason};
    } catch (const std::bad_alloc&) {
        return base::noMemory({});
    } catch (const std::length_error&) {
        return base::noMemory({});
    }
}

} // namespace

std::uint32_t CArray::at(std::size_t i) const {
    const std::size_t each = static_cast<std::size_t>(elementBits / 8);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < each; ++k) {
        v = v << 8 | data[i * each + k];
    }
    return v;
}

base::Result<CText> readCText(const ReadFunction& read, std::uint64_t budget) {
    try {
        Bytes bytes(read);
        return readFrom(bytes, budget);
    } catch (const std::bad_alloc&) {
        return base::noMemory({});
    }
}

base::Result<CText> readCText(std::string_view text, std::uint64_t budget) {
    Bytes bytes(text);
    return readFrom(bytes, budget);
}

std::string excerpt(std::string_view bytes, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t k = 0; k < bytes.size() && k < limit; ++k) {
        const auto c = static_cast<unsigned char>(bytes[k]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c <= 0x7E) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    if (bytes.size() > limit) {
        out += "...";
    }
    return out;
}

} // namespace ctext
