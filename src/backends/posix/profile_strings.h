#pragma once
// INI files with the semantics Windows shows: names compared without regard to case, blanks
// around names and values dropped, one pair of surrounding quotes stripped, the first of
// duplicate keys and of duplicate sections wins. Writing keeps the rest of the file byte for byte
// and replaces the file in one step, so a crash never leaves half of it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/system.h"

namespace updater::posix {

// One parsed INI text: where each line lies and what it says. Lines are kept with their ends so
// that an edit can rebuild the text around them.
class IniText {
 public:
  explicit IniText(std::string text);

  // The value the reader sees, or nothing when the section or the key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Sets key to value (adding the key or the section when missing) and returns the new text.
  std::string With(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  struct Line {
    std::size_t begin = 0;       // first byte of the line
    std::size_t contentEnd = 0;  // end of the text, before the line end
    std::size_t end = 0;         // after the line end
    enum Kind { kBlank, kSection, kKey } kind = kBlank;
    std::string name;  // section or key name, trimmed
    bool hasValue = false;
    std::string value;  // trimmed, quotes stripped
  };
  // Index range [first, last) of the lines of the first section named name (the lines before any
  // header form the section ""); first is the header line, or 0 for "". False when missing.
  bool SectionRange(std::string_view name, std::size_t& first, std::size_t& last) const;
  std::string LineEnd() const;

  std::string text_;
  std::size_t bodyStart_ = 0;  // after a UTF-8 byte-order mark
  std::vector<Line> lines_;
};

class PosixProfileStrings : public ports::ProfileStrings {
 public:
  explicit PosixProfileStrings(const PathMapper& mapper) : mapper_(mapper) {}

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue, std::size_t bufferSize,
                        const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;

 private:
  const PathMapper& mapper_;
};

}  // namespace updater::posix
