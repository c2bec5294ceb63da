#include "backends/posix/emulation/command_line.h"

namespace updater::posix {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> args;
  std::size_t i = 0;
  // The program name: no escapes at all.
  std::string program;
  if (i < s.size() && s[i] == '"') {
    ++i;
    while (i < s.size() && s[i] != '"') program += s[i++];
    if (i < s.size()) ++i;  // the closing quote
  } else {
    while (i < s.size() && !IsBlank(s[i])) program += s[i++];
  }
  args.push_back(program);
  // A program name that runs straight into text ("a"b) ends there all the same.
  while (i < s.size() && IsBlank(s[i])) ++i;

  std::string current;
  bool inArgument = false;
  int quotes = 0;  // 1 while inside quotes
  std::size_t backslashes = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (IsBlank(c) && quotes == 0) {
      current.append(backslashes, '\\');
      backslashes = 0;
      if (inArgument) args.push_back(current);
      current.clear();
      inArgument = false;
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      ++backslashes;
      ++i;
      continue;
    }
    if (c == '"') {
      current.append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) {
        current += '"';
        backslashes = 0;
        ++i;
        continue;
      }
      backslashes = 0;
      ++i;
      ++quotes;
      // A run of quotes: every third one is a literal quote.
      while (i < s.size() && s[i] == '"') {
        if (++quotes == 3) {
          current += '"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    current.append(backslashes, '\\');
    backslashes = 0;
    current += c;
    ++i;
  }
  current.append(backslashes, '\\');
  if (inArgument) args.push_back(current);
  return args;
}

}  // namespace updater::posix
