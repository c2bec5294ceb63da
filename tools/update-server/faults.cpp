#include "faults.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
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

// The modes named by a word alone or followed by numbers, and the fields those numbers fill, in
// the order they are written.
struct NumberedMode {
  const char* name;
  FaultMode mode;
  std::vector<std::uint64_t Fault::*> numbers;
};
const NumberedMode kNumberedModes[] = {
    {"html404", FaultMode::kHtml404, {}},
    {"html500", FaultMode::kHtml500, {}},
    {"notxml", FaultMode::kNotXml, {}},
    {"empty", FaultMode::kEmpty, {}},
    {"xml500", FaultMode::kXml500, {}},
    {"gb2312", FaultMode::kGb2312, {}},
    {"chunked", FaultMode::kChunked, {}},
    {"short", FaultMode::kShort, {&Fault::count}},
    {"delay", FaultMode::kDelay, {&Fault::ms}},
    {"stall", FaultMode::kStall, {&Fault::count, &Fault::ms}},
    {"hang", FaultMode::kHang, {}},
    {"oversize", FaultMode::kOversize, {&Fault::count}},
    {"breakonce", FaultMode::kBreakOnce, {&Fault::count}},
    {"trickle", FaultMode::kTrickle, {&Fault::count, &Fault::piece, &Fault::ms}},
    {"link", FaultMode::kLink, {&Fault::count, &Fault::ms}},
    {"ignorerange", FaultMode::kIgnoreRange, {}},
    {"drop", FaultMode::kDrop, {}},
    {"refuserange", FaultMode::kRefuseRange, {}},
};

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
  const auto numbered = std::find_if(std::begin(kNumberedModes), std::end(kNumberedModes),
                                     [&](const NumberedMode& m) { return mode == m.name; });
  if (numbered != std::end(kNumberedModes)) {
    fault.mode = numbered->mode;
    arity = numbered->numbers.size();
    for (std::size_t i = 0; i < arity; ++i) fault.*(numbered->numbers[i]) = Number(words, 2 + i);
    if (fault.mode == FaultMode::kTrickle && fault.piece == 0) {
      throw std::invalid_argument("mode 'trickle' needs pieces of 1 byte or more");
    }
  } else if (mode == "root") {
    fault.mode = FaultMode::kRoot;
    if (words.size() < 3) throw std::invalid_argument("mode 'root' needs an element name");
    fault.name = words[2];
    arity = 1;
  } else if (mode == "notfoundtext") {
    fault.mode = FaultMode::kNotFoundText;
    if (words.size() > 2) {
      fault.name = ToLower(words[2]);
      if (fault.name != "gb2312" && fault.name != "utf-8") {
        throw std::invalid_argument("mode 'notfoundtext' takes utf-8 or gb2312");
      }
      arity = 1;
    }
  } else if (mode == "redirect") {
    fault.mode = FaultMode::kRedirect;
    fault.count = Number(words, 2);
    if (fault.count < 300 || fault.count > 399) {
      throw std::invalid_argument("mode 'redirect' needs a 3xx status");
    }
    if (words.size() < 4) throw std::invalid_argument("mode 'redirect' needs a location");
    fault.name = words[3];
    arity = 2;
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
