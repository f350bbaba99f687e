#include "ctext/c_identifier.h"

#include <algorithm>
#include <array>

namespace ctext {
namespace {

// The keywords of C (C99 to C23) and C++ (to C++20, with the alternative tokens), from the
// standards' keyword tables.
constexpr auto kCKeywords = std::to_array<std::string_view>({
    "_Alignas",
    "_Alignof",
    "_Atomic",
    "_BitInt",
    "_Bool",
    "_Complex",
    "_Decimal128",
    "_Decimal32",
    "_Decimal64",
    "_Generic",
    "_Imaginary",
    "_Noreturn",
    "_Static_assert",
    "_Thread_local",
    "alignas",
    "alignof",
    "auto",
    "bool",
    "break",
    "case",
    "char",
    "const",
    "constexpr",
    "continue",
    "default",
    "do",
    "double",
    "else",
    "enum",
    "extern",
    "false",
    "float",
    "for",
    "goto",
    "if",
    "inline",
    "int",
    "long",
    "nullptr",
    "register",
    "restrict",
    "return",
    "short",
    "signed",
    "sizeof",
    "static",
    "static_assert",
    "struct",
    "switch",
    "thread_local",
    "true",
    "typedef",
    "typeof",
    "typeof_unqual",
    "union",
    "unsigned",
    "void",
    "volatile",
    "while",
});
constexpr auto kCppKeywords = std::to_array<std::string_view>({
    "alignas",       "alignof",     "and",
    "and_eq",        "asm",         "auto",
    "bitand",        "bitor",       "bool",
    "break",         "case",        "catch",
    "char",          "char16_t",    "char32_t",
    "char8_t",       "class",       "co_await",
    "co_return",     "co_yield",    "compl",
    "concept",       "const",       "const_cast",
    "consteval",     "constexpr",   "constinit",
    "continue",      "decltype",    "default",
    "delete",        "do",          "double",
    "dynamic_cast",  "else",        "enum",
    "explicit",      "export",      "extern",
    "false",         "float",       "for",
    "friend",        "goto",        "if",
    "inline",        "int",         "long",
    "mutable",       "namespace",   "new",
    "noexcept",      "not",         "not_eq",
    "nullptr",       "operator",    "or",
    "or_eq",         "private",     "protected",
    "public",        "register",    "reinterpret_cast",
    "requires",      "return",      "short",
    "signed",        "sizeof",      "static",
    "static_assert", "static_cast", "struct",
    "switch",        "template",    "this",
    "thread_local",  "throw",       "true",
    "try",           "typedef",     "typeid",
    "typename",      "union",       "unsigned",
    "using",         "virtual",     "void",
    "volatile",      "wchar_t",     "while",
    "xor",           "xor_eq",
});

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

} // namespace

std::optional<std::string> nameProblem(std::string_view name) {
    const std::string quoted = "bad name '" + std::string(name) + "': ";
    const bool wellFormed = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
    if (!wellFormed) {
        return quoted + "a C identifier holds only letters A to Z and a to z, digits and '_'";
    }
    if (name[0] >= '0' && name[0] <= '9') {
        return quoted + "a C identifier cannot start with a digit";
    }
    const bool c = contains(kCKeywords, name);
    const bool cpp = contains(kCppKeywords, name);
    if (c || cpp) {
        return quoted + "it is a keyword of " + (c && cpp ? "C and C++" : c ? "C" : "C++");
    }
    return std::nullopt;
}

std::string identifierOf(std::string_view stem) {
    std::string name;
    for (const char c : stem) {
        const bool kept =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        name += kept ? c : '_';
    }
    if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
        name.insert(name.begin(), '_');
    }
    return name;
}

} // namespace ctext
