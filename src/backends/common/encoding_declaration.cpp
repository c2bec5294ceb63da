#include "backends/common/encoding_declaration.h"

#include <algorithm>

namespace updater {

namespace {

// Only the blanks XML allows: the C library's isspace depends on the locale.
bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string AsciiLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

}  // namespace

std::optional<DeclaredEncoding> FindDeclaredEncoding(const std::string& bytes) {
  if (bytes.rfind("<?xml", 0) != 0) return std::nullopt;
  const std::size_t end = bytes.find("?>");
  if (end == std::string::npos) return std::nullopt;
  const std::string declaration = bytes.substr(0, end);
  std::size_t at = declaration.find("encoding");
  if (at == std::string::npos) return std::nullopt;
  DeclaredEncoding found;
  found.start = at;
  while (found.start > 0 && IsXmlBlank(declaration[found.start - 1])) --found.start;
  at += 8;
  while (at < end && IsXmlBlank(declaration[at])) ++at;
  if (at >= end || declaration[at] != '=') return std::nullopt;
  ++at;
  while (at < end && IsXmlBlank(declaration[at])) ++at;
  if (at >= end || (declaration[at] != '"' && declaration[at] != '\'')) return std::nullopt;
  const char quote = declaration[at];
  const std::size_t close = declaration.find(quote, at + 1);
  if (close == std::string::npos) return std::nullopt;
  found.name = AsciiLower(declaration.substr(at + 1, close - at - 1));
  found.length = close + 1 - found.start;
  return found;
}

std::string WithoutDeclaredEncoding(const std::string& bytes, const DeclaredEncoding& declared) {
  std::string undeclared = bytes;
  undeclared.erase(declared.start, declared.length);
  return undeclared;
}

}  // namespace updater
