#include "backends/posix/emulation/wildcard.h"

#include <cstddef>

namespace updater::posix {

namespace {
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Steps over one UTF-8 character so that `?` stands for a character, not a byte.
std::size_t CharLength(std::string_view s, std::size_t i) {
  std::size_t n = 1;
  while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

bool Match(std::string_view p, std::string_view s) {
  std::size_t pi = 0, si = 0;
  std::size_t starP = std::string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starS = si;
    } else if (pi < p.size() && p[pi] == '?') {
      ++pi;
      si += CharLength(s, si);
    } else if (pi < p.size() && Lower(p[pi]) == Lower(s[si])) {
      ++pi;
      ++si;
    } else if (starP != std::string_view::npos) {
      pi = starP + 1;
      starS += CharLength(s, starS);
      si = starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}
}  // namespace

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (name == "." || name == "..") return false;
  if (Match(pattern, name)) return true;
  // "*.*" matches names without a dot, and "x.*" matches "x", as on Windows.
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
    return Match(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

}  // namespace updater::posix
