#pragma once
// Small text helpers with the semantics the program relies on (UTF-8 text).

#include <string>
#include <string_view>

namespace updater::text {

// Removes leading and trailing space characters (only U+0020, as Trim does).
std::string TrimSpaces(std::string_view s);

// The first n characters (code points) of a UTF-8 text.
std::string Utf8Prefix(std::string_view s, std::size_t n);

// Drops an incomplete multi-byte sequence at the end of a UTF-8 text cut at a byte count.
std::string Utf8DropIncompleteTail(std::string_view s);

// The path in double quotes, so that a command line keeps a path with blanks in one piece.
std::string Quoted(std::string_view path);

// Case-insensitive comparison of ASCII letters; other bytes compare as they are.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string AsciiLower(std::string_view s);

}  // namespace updater::text
