#pragma once
// A fake of the support log: the lines the core wrote, in order. The real log never fails
// visibly either (a log that cannot be written is skipped), so neither does this one.

#include <string>
#include <vector>

#include "ports/log.h"

namespace fakes {

class FakeLog : public updater::ports::SupportLog {
 public:
  std::vector<std::string> lines;
  void Write(const std::string& text) override { lines.push_back(text); }

  // Every line, one after the other, for a readable failure message.
  std::string All() const {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
  }
  // Whether some line holds part.
  bool Has(const std::string& part) const {
    for (const auto& l : lines) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

}  // namespace fakes
