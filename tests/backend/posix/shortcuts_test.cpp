#include "backends/posix/shortcuts.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

namespace updater::posix {
namespace {

// A value as a desktop reads it: the string escapes undone.
std::string Unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char c = value[++i];
    out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

// An Exec command line split as a desktop splits it: blanks separate, double quotes group and
// inside them a backslash takes the next character literally; %% is a percent sign.
std::vector<std::string> SplitExec(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '\\' && i + 1 < line.size()) {
      word += line[++i];
    } else if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (c == '%') {
      // Anything but %% is a field code, which the desktop would replace.
      word += i + 1 < line.size() && line[i + 1] == '%' ? std::string(1, line[++i]) : "<code>";
      inWord = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::map<std::string, std::string> Keys(const std::string& text) {
  std::map<std::string, std::string> keys;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}

TEST(LauncherText, NamesAndProgramPathsSurviveTheDesktopsUnquoting) {
  for (const std::string program :
       {"/opt/考试 练习/Trainova.exe", "/opt/a \"b\" $HOME `x`/100%/c\\d", "/tmp/a\tb/c\nd"}) {
    const auto keys = Keys(PosixShortcuts::LauncherText(" 考试 a\\b", program));
    EXPECT_EQ(keys.at("Type"), "Application");
    EXPECT_EQ(keys.at("Terminal"), "false");
    EXPECT_EQ(Unescape(keys.at("Name")), " 考试 a\\b");
    EXPECT_EQ(SplitExec(Unescape(keys.at("Exec"))), std::vector<std::string>{program});
    EXPECT_EQ(Unescape(keys.at("Icon")), program);
  }
}

}  // namespace
}  // namespace updater::posix
