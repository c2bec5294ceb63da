#include "util/text.h"

namespace updater::text {

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the sequence a lead byte announces (1 for ASCII and for stray bytes).
std::size_t SequenceLength(unsigned char c) {
  if (c >= 0xF0 && c < 0xF8) return 4;
  if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
  if (c >= 0xC0) return 2;
  return 1;
}
}  // namespace

std::string TrimSpaces(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

std::string Utf8Prefix(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < s.size() && count < n; ++count) {
    ++i;
    while (i < s.size() && IsContinuation(static_cast<unsigned char>(s[i]))) ++i;
  }
  return std::string(s.substr(0, i));
}

std::string Utf8DropIncompleteTail(std::string_view s) {
  // Find the last lead byte within the final four bytes and check its sequence is complete.
  std::size_t i = s.size();
  std::size_t back = 0;
  while (i > 0 && back < 4) {
    --i;
    ++back;
    const auto c = static_cast<unsigned char>(s[i]);
    if (!IsContinuation(c)) {
      if (c >= 0x80 && SequenceLength(c) > back) return std::string(s.substr(0, i));
      break;
    }
  }
  return std::string(s);
}

std::string Quoted(std::string_view path) {
  std::string out;
  out.reserve(path.size() + 2);
  out.push_back('"');
  out.append(path);
  out.push_back('"');
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace updater::text
