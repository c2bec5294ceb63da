#include "upgrade/JournalFormat.h"

#include <array>
#include <cstdio>

namespace updater {

namespace {

constexpr std::string_view kMagic = "autoupdate undo journal 1\n";
constexpr std::string_view kPending = "pending\n";
constexpr std::string_view kCommitted = "committed\n";
constexpr std::size_t kMaxBody = 256u << 20;

bool IsNumber(std::string_view s) {
  return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

bool IsAsideName(std::string_view s) {
  const std::size_t sep = s.find('\\');
  return sep != std::string_view::npos && IsNumber(s.substr(0, sep)) && IsNumber(s.substr(sep + 1));
}

// The text up to the next newline, which is consumed; empty when there is none.
std::optional<std::string_view> Line(std::string_view& text) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return line;
}

std::optional<JournalEntry> ParseEntry(std::string_view line) {
  const std::size_t tab1 = line.find('\t');
  const std::size_t tab2 = tab1 == 1 ? line.find('\t', 2) : std::string_view::npos;
  if (tab2 == std::string_view::npos || tab2 + 1 >= line.size()) return std::nullopt;
  JournalEntry e{line[0], std::string(line.substr(2, tab2 - 2)),
                 std::string(line.substr(tab2 + 1))};
  if (e.path.find_first_of(std::string_view("\t\r\0", 3)) != std::string::npos) return std::nullopt;
  if ((e.op == 'M' && IsAsideName(e.aside)) || (e.op == 'C' && e.aside.empty())) return e;
  return std::nullopt;
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : bytes)
    crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string SerializeJournal(const JournalContent& journal) {
  std::string body(journal.committed ? kCommitted : kPending);
  for (const JournalEntry& e : journal.entries) {
    body += e.op;
    body += '\t' + e.aside + '\t' + e.path + '\n';
  }
  char header[64];
  std::snprintf(header, sizeof header, "length %zu\ncrc32 %08x\n", body.size(),
                static_cast<unsigned>(Crc32(body)));
  return std::string(kMagic) + header + body;
}

std::optional<JournalContent> ParseJournal(std::string_view text) {
  if (!text.starts_with(kMagic)) return std::nullopt;
  text.remove_prefix(kMagic.size());
  const auto length = Line(text);
  const auto crc = Line(text);
  if (!length || !crc || !length->starts_with("length ") || !crc->starts_with("crc32 ")) {
    return std::nullopt;
  }
  const std::string_view digits = length->substr(7), hex = crc->substr(6);
  if (!IsNumber(digits) || hex.size() != 8 ||
      hex.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t size = std::stoul(std::string(digits));
  if (size > kMaxBody || text.size() != size ||
      Crc32(text) != std::stoul(std::string(hex), nullptr, 16)) {
    return std::nullopt;
  }
  JournalContent journal;
  const auto state = Line(text);
  if (!state || (*state != kPending.substr(0, kPending.size() - 1) &&
                 *state != kCommitted.substr(0, kCommitted.size() - 1))) {
    return std::nullopt;
  }
  journal.committed = *state == "committed";
  while (!text.empty()) {
    const auto line = Line(text);
    if (!line) return std::nullopt;
    auto entry = ParseEntry(*line);
    if (!entry) return std::nullopt;
    journal.entries.push_back(std::move(*entry));
  }
  if (journal.entries.empty()) return std::nullopt;
  return journal;
}

}  // namespace updater
