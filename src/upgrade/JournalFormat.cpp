#include "upgrade/JournalFormat.h"

#include <array>
#include <cstdio>

namespace updater {

namespace {

constexpr std::string_view kMagic = "autoupdate undo journal 2\n";
// What earlier versions wrote: the same, with absolute paths and no roots.
constexpr std::string_view kMagicAbsolute = "autoupdate undo journal 1\n";
constexpr std::string_view kPending = "pending\n";
constexpr std::string_view kCommitted = "committed\n";
constexpr std::size_t kMaxBody = 256u << 20;

bool IsNumber(std::string_view s) {
  return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// CON, NUL, COM1, ... name a device in every folder, whatever follows a dot.
bool IsDeviceName(std::string_view name) {
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  for (const std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (EqualsNoCase(name, device)) return true;
  }
  return name.size() == 4 &&
         (EqualsNoCase(name.substr(0, 3), "com") || EqualsNoCase(name.substr(0, 3), "lpt")) &&
         name[3] >= '0' && name[3] <= '9';
}

// The text up to the next newline, which is consumed; empty when there is none.
std::optional<std::string_view> Line(std::string_view& text) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return line;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos;) {
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  return fields;
}

std::optional<JournalEntry> ParseEntry(std::string_view line, bool withRoots) {
  const std::vector<std::string_view> f = Fields(line);
  if (f.size() != (withRoots ? 4u : 3u) || f[0].size() != 1 || f.back().empty()) {
    return std::nullopt;
  }
  JournalEntry e{f[0][0], std::string(f[1]), std::nullopt, std::string(f.back())};
  if (withRoots) e.root = std::string(f[2]);
  for (const std::string_view field : f) {
    if (field.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      return std::nullopt;
    }
  }
  if ((e.op == 'M' && !e.aside.empty()) || (e.op == 'C' && e.aside.empty())) return e;
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
  bool withRoots = true;
  for (const JournalEntry& e : journal.entries) withRoots = withRoots && e.root.has_value();
  std::string body(journal.committed ? kCommitted : kPending);
  for (const JournalEntry& e : journal.entries) {
    body += e.op;
    body += '\t' + e.aside + '\t';
    if (withRoots) body += *e.root + '\t';
    body += e.path + '\n';
  }
  char header[64];
  std::snprintf(header, sizeof header, "length %zu\ncrc32 %08x\n", body.size(),
                static_cast<unsigned>(Crc32(body)));
  return std::string(withRoots ? kMagic : kMagicAbsolute) + header + body;
}

std::optional<JournalContent> ParseJournal(std::string_view text) {
  const bool withRoots = text.starts_with(kMagic);
  if (!withRoots && !text.starts_with(kMagicAbsolute)) return std::nullopt;
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
    auto entry = ParseEntry(*line, withRoots);
    if (!entry) return std::nullopt;
    journal.entries.push_back(std::move(*entry));
  }
  if (journal.entries.empty()) return std::nullopt;
  return journal;
}

std::string RelativePathFault(std::string_view path) {
  if (path.empty()) return "it names its root itself";
  if (path.find(':') != std::string_view::npos) return "it names a drive or a stream (':')";
  if (path.find('/') != std::string_view::npos) return "it holds a '/'";
  if (path.front() == '\\') return "it is not relative";
  for (std::string_view rest = path; !rest.empty();) {
    const std::size_t sep = rest.find('\\');
    const std::string_view name = rest.substr(0, sep);
    rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
    if (sep != std::string_view::npos && rest.empty()) return "it ends with a separator";
    std::string_view bare = name;  // as Windows stores it: without trailing dots and blanks
    while (!bare.empty() && (bare.back() == '.' || bare.back() == ' ')) bare.remove_suffix(1);
    if (name == "..") return "it climbs out of its root ('..')";
    if (bare.empty()) return "it has an empty, '.' or dots-only component";
    if (IsDeviceName(name)) return "it names a device (" + std::string(name) + ")";
  }
  return "";
}

std::string AsideFault(const JournalEntry& entry) {
  if (entry.op != 'M') return "";
  const std::size_t sep = entry.aside.find('\\');
  if (sep == std::string::npos || !IsNumber(std::string_view(entry.aside).substr(0, sep)) ||
      !IsNumber(std::string_view(entry.aside).substr(sep + 1))) {
    return "its aside file " + entry.aside + " lies outside the undo folder";
  }
  return "";
}

}  // namespace updater
