// Small text helpers of the update server.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace update_server {

bool IsSpace(char c);

// ASCII lower case; other bytes (UTF-8 sequences) are left alone.
std::string ToLower(std::string_view text);

bool EndsWithNoCase(std::string_view text, std::string_view suffix);

// Character data for an XML element or attribute value.
std::string XmlEscape(std::string_view text);

// The whole file without its trailing line breaks; nullopt when it cannot be read.
std::optional<std::string> ReadTextFile(const std::filesystem::path& file);

// UTF-8 to GB2312. Characters that GB2312 lacks become '?', so a reply is always produced.
std::string Utf8ToGb2312(std::string_view utf8);

// One field of a log line: backslash, CR, LF and tab written as \\ \r \n \t.
std::string EscapeForLog(std::string_view text);

}  // namespace update_server
