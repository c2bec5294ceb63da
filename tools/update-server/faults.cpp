#include "faults.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "text.h"

namespace update_server {
namespace {

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

std::uint64_t Number(const std::vector<std::string>& words, std::size_t index) {
  if (index >= words.size()) {
    throw std::invalid_argument("mode '" + words[1] + "' needs a number");
  }
  const std::string& word = words[index];
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) {
    throw std::invalid_argument("'" + word + "' is not a number");
  }
  return value;
}

// Parses one rule; nullopt for blank lines and comments. Throws std::invalid_argument with a
// readable reason for a malformed line.
std::optional<Fault> ParseFaultLine(std::string_view line, std::string& pattern) {
  std::vector<std::string> words = SplitWords(line);
  if (words.empty() || words[0][0] == '#') return std::nullopt;
  if (words.size() < 2) throw std::invalid_argument("a rule needs a page pattern and a mode");
  pattern = words[0];
  const std::string mode = ToLower(words[1]);
  std::size_t arity = 0;
  Fault fault{};
  if (mode == "html404") {
    fault.mode = FaultMode::kHtml404;
  } else if (mode == "html500") {
    fault.mode = FaultMode::kHtml500;
  } else if (mode == "notxml") {
    fault.mode = FaultMode::kNotXml;
  } else if (mode == "empty") {
    fault.mode = FaultMode::kEmpty;
  } else if (mode == "xml500") {
    fault.mode = FaultMode::kXml500;
  } else if (mode == "root") {
    fault.mode = FaultMode::kRoot;
    if (words.size() < 3) throw std::invalid_argument("mode 'root' needs an element name");
    fault.name = words[2];
    arity = 1;
  } else if (mode == "gb2312") {
    fault.mode = FaultMode::kGb2312;
  } else if (mode == "chunked") {
    fault.mode = FaultMode::kChunked;
  } else if (mode == "short") {
    fault.mode = FaultMode::kShort;
    fault.count = Number(words, 2);
    arity = 1;
  } else if (mode == "delay") {
    fault.mode = FaultMode::kDelay;
    fault.ms = Number(words, 2);
    arity = 1;
  } else if (mode == "stall") {
    fault.mode = FaultMode::kStall;
    fault.count = Number(words, 2);
    fault.ms = Number(words, 3);
    arity = 2;
  } else if (mode == "hang") {
    fault.mode = FaultMode::kHang;
  } else if (mode == "notfoundtext") {
    fault.mode = FaultMode::kNotFoundText;
    if (words.size() > 2) {
      fault.name = ToLower(words[2]);
      if (fault.name != "gb2312" && fault.name != "utf-8") {
        throw std::invalid_argument("mode 'notfoundtext' takes utf-8 or gb2312");
      }
      arity = 1;
    }
  } else if (mode == "oversize") {
    fault.mode = FaultMode::kOversize;
    fault.count = Number(words, 2);
    arity = 1;
  } else if (mode == "redirect") {
    fault.mode = FaultMode::kRedirect;
    fault.count = Number(words, 2);
    if (fault.count < 300 || fault.count > 399) {
      throw std::invalid_argument("mode 'redirect' needs a 3xx status");
    }
    if (words.size() < 4) throw std::invalid_argument("mode 'redirect' needs a location");
    fault.name = words[3];
    arity = 2;
  } else if (mode == "breakonce") {
    fault.mode = FaultMode::kBreakOnce;
    fault.count = Number(words, 2);
    arity = 1;
  } else if (mode == "trickle") {
    fault.mode = FaultMode::kTrickle;
    fault.count = Number(words, 2);
    fault.piece = Number(words, 3);
    fault.ms = Number(words, 4);
    if (fault.piece == 0)
      throw std::invalid_argument("mode 'trickle' needs pieces of 1 byte or more");
    arity = 3;
  } else if (mode == "ignorerange") {
    fault.mode = FaultMode::kIgnoreRange;
  } else if (mode == "drop") {
    fault.mode = FaultMode::kDrop;
  } else if (mode == "refuserange") {
    fault.mode = FaultMode::kRefuseRange;
  } else {
    throw std::invalid_argument("unknown mode '" + words[1] + "'");
  }
  if (words.size() > 2 + arity) {
    throw std::invalid_argument("too many words for mode '" + words[1] + "'");
  }
  return fault;
}

}  // namespace

std::optional<Fault> FindFault(const std::filesystem::path& file, std::string_view path) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  const std::string lower_path = ToLower(path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string pattern;
    std::optional<Fault> fault;
    try {
      fault = ParseFaultLine(line, pattern);
    } catch (const std::invalid_argument& error) {
      std::cerr << "update-server: " << file.string() << ":" << number << ": " << error.what()
                << "; line ignored\n";
      continue;
    }
    if (!fault) continue;
    if (pattern == "*" || lower_path.find(ToLower(pattern)) != std::string::npos) {
      fault->rule = line;
      return fault;
    }
  }
  return std::nullopt;
}

}  // namespace update_server
