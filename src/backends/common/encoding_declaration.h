#pragma once
// The encoding an XML reply declares, read from its bytes before any parser sees them: a backend
// whose parser cannot read some declared encodings decodes such replies itself.

#include <cstddef>
#include <optional>
#include <string>

namespace updater {

// Where the encoding declaration of a body lies: the whole pseudo-attribute, the blanks before
// it included, and its value in lower case.
struct DeclaredEncoding {
  std::size_t start = 0, length = 0;
  std::string name;
};

// Nothing when the body starts with no XML declaration or the declaration names no encoding.
std::optional<DeclaredEncoding> FindDeclaredEncoding(const std::string& bytes);

// The body without its encoding declaration, for a parser fed decoded text.
std::string WithoutDeclaredEncoding(const std::string& bytes, const DeclaredEncoding& declared);

}  // namespace updater
