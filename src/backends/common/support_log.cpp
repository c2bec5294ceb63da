#include "backends/common/support_log.h"

#include <cstdio>
#include <system_error>

namespace updater {

namespace fs = std::filesystem;

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The length of the UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  char32_t cp = 0;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF)
    n = 2, cp = b & 0x1F;
  else if (b >= 0xE0 && b <= 0xEF)
    n = 3, cp = b & 0x0F;
  else if (b >= 0xF0 && b <= 0xF4)
    n = 4, cp = b & 0x07;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return n;
}

fs::path Normal(const fs::path& p) {
  std::error_code ec;
  fs::path n = fs::weakly_canonical(p, ec);
  if (ec) n = fs::absolute(p, ec).lexically_normal();
  if (!n.has_filename() && n.has_parent_path()) n = n.parent_path();
  return n;
}

bool Within(const fs::path& inner, const fs::path& outer, bool ignoreCase) {
  const fs::path a = Normal(inner);
  const fs::path b = Normal(outer);
  auto ia = a.begin();
  for (const fs::path& part : b) {
    if (ia == a.end()) return false;
    auto x = ia->native();
    auto y = part.native();
    if (ignoreCase) {
      for (auto& c : x) c = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
      for (auto& c : y) c = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
    }
    if (x != y) return false;
    ++ia;
  }
  return true;
}

}  // namespace

std::string SupportLogName(const std::string& programFolder) {
  std::string folder = programFolder;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : folder) {
    hash ^= static_cast<unsigned char>(Lower(c));
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("autoupdate-") + hex + ".log";
}

std::string SupportLogLine(const LogTime& t, unsigned long pid, const std::string& text) {
  const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  char head[64];
  std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d %c%02d%02d [%lu] ", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60, pid);
  std::string line = head;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      line += c == '\n' ? "\\n" : "\\r";
      ++i;
      continue;
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0 || (n == 1 && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F))) {
      line += c == '\t' ? ' ' : '?';
      ++i;
      continue;
    }
    line.append(text, i, n);
    i += n;
  }
  return line + "\n";
}

void SupportLogFile::Place(const fs::path& folder, const std::string& programFolder,
                           const fs::path& programHost, bool ignoreCase) {
  file_.clear();
  if (folder.empty() || !folder.is_absolute()) return;
  // The installation keeps the program folder whole: a log there would be one more file in it.
  if (!programHost.empty() && Within(folder, programHost, ignoreCase)) return;
  const std::string name = SupportLogName(programFolder);
  file_ = folder / name;
  old_ = folder / (name.substr(0, name.size() - 4) + ".old.log");
}

void SupportLogFile::Write(const std::string& text) {
  if (file_.empty()) return;
  try {
    std::error_code ec;
    if (!folderMade_) {
      fs::create_directories(file_.parent_path(), ec);
      folderMade_ = true;
    }
    const std::string line = SupportLogLine(Now(), ProcessId(), text);
    const std::uintmax_t size = fs::file_size(file_, ec);
    if (!ec && size + line.size() > kLimit) {
      fs::remove(old_, ec);
      fs::rename(file_, old_, ec);
      if (ec) return;  // the bound holds even when the older file cannot be replaced
    }
    Append(file_, line);
  } catch (...) {
    // A log that cannot be written is skipped; the run goes on as if there were none.
  }
}

}  // namespace updater
