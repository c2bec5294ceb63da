#include "backends/posix/profile_strings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>

#include "util/text.h"

namespace updater::posix {

namespace fs = std::filesystem;

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

std::optional<std::string> ReadFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes a sibling temporary file and renames it over path, keeping the old file's mode.
bool ReplaceFile(const fs::path& path, std::string_view data) {
  static std::atomic<unsigned> counter{0};
  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;
  fs::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data);
  if (ok && existed) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  if (ok) ok = ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}
}  // namespace

IniText::IniText(std::string text) : text_(std::move(text)) {
  if (text_.starts_with("\xEF\xBB\xBF")) bodyStart_ = 3;
  std::size_t pos = bodyStart_;
  while (pos < text_.size()) {
    Line line;
    line.begin = pos;
    const std::size_t nl = text_.find('\n', pos);
    line.end = nl == std::string::npos ? text_.size() : nl + 1;
    line.contentEnd = nl == std::string::npos ? text_.size() : nl;
    if (line.contentEnd > line.begin && text_[line.contentEnd - 1] == '\r') --line.contentEnd;
    pos = line.end;

    const std::string_view content =
        TrimBlanks(std::string_view(text_).substr(line.begin, line.contentEnd - line.begin));
    const std::size_t close = content.find(']');
    if (content.empty()) {
      line.kind = Line::kBlank;
    } else if (content.front() == '[' && close != std::string_view::npos) {
      line.kind = Line::kSection;
      line.name = TrimBlanks(content.substr(1, close - 1));
    } else {
      // No comment syntax: a line such as ";x=1" is a key named ";x", as Windows reads it.
      line.kind = Line::kKey;
      const std::size_t eq = content.find('=');
      line.name = TrimBlanks(content.substr(0, eq));
      if (eq != std::string_view::npos) {
        line.hasValue = true;
        line.value = StripQuotes(TrimBlanks(content.substr(eq + 1)));
      }
    }
    lines_.push_back(std::move(line));
  }
}

bool IniText::SectionRange(std::string_view name, std::size_t& first, std::size_t& last) const {
  std::size_t i = 0;
  if (name.empty()) {
    first = 0;
  } else {
    while (i < lines_.size() &&
           !(lines_[i].kind == Line::kSection && text::EqualsNoCase(lines_[i].name, name))) {
      ++i;
    }
    if (i == lines_.size()) return false;
    first = i++;
  }
  while (i < lines_.size() && lines_[i].kind != Line::kSection) ++i;
  last = i;
  return true;
}

std::optional<std::string> IniText::Find(std::string_view section, std::string_view key) const {
  std::size_t first = 0, last = 0;
  if (!SectionRange(section, first, last)) return std::nullopt;
  for (std::size_t i = first; i < last; ++i) {
    const Line& line = lines_[i];
    if (line.kind == Line::kKey && text::EqualsNoCase(line.name, key)) {
      // A bare name without "=" holds no value: the reader gets the default.
      if (!line.hasValue) return std::nullopt;
      return line.value;
    }
  }
  return std::nullopt;
}

std::string IniText::LineEnd() const {
  const std::size_t nl = text_.find('\n');
  if (nl != std::string::npos && (nl == 0 || text_[nl - 1] != '\r')) return "\n";
  return "\r\n";
}

std::string IniText::With(std::string_view section, std::string_view key,
                          std::string_view value) const {
  const std::string eol = LineEnd();
  std::size_t first = 0, last = 0;
  if (!SectionRange(section, first, last)) {
    std::string out = text_;
    if (!out.empty() && out.back() != '\n') out += eol;
    return out + "[" + std::string(section) + "]" + eol + std::string(key) + "=" +
           std::string(value) + eol;
  }
  for (std::size_t i = first; i < last; ++i) {
    const Line& line = lines_[i];
    if (line.kind == Line::kKey && text::EqualsNoCase(line.name, key)) {
      return text_.substr(0, line.begin) + line.name + "=" + std::string(value) +
             text_.substr(line.contentEnd);
    }
  }
  // A new key goes after the last non-blank line of its section (after the header at least).
  std::size_t at = section.empty() ? bodyStart_ : lines_[first].end;
  bool needsBreak = false;
  for (std::size_t i = first; i < last; ++i) {
    if (lines_[i].kind != Line::kBlank) {
      at = lines_[i].end;
      needsBreak = lines_[i].end == lines_[i].contentEnd;  // the last line has no line end
    }
  }
  const std::string entry =
      (needsBreak ? eol : std::string()) + std::string(key) + "=" + std::string(value) + eol;
  return text_.substr(0, at) + entry + text_.substr(at);
}

std::string PosixProfileStrings::GetString(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, std::size_t bufferSize,
                                           const std::string& file) {
  if (bufferSize == 0) return {};
  std::optional<std::string> value;
  if (const auto content = ReadFile(mapper_.Map(file)))
    value = IniText(*content).Find(section, key);
  std::string result = value ? *value : defaultValue;
  // The default loses its trailing blanks, as the service documents.
  if (!value) {
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t')) result.pop_back();
  }
  if (result.size() > bufferSize - 1) {
    result = text::Utf8DropIncompleteTail(std::string_view(result).substr(0, bufferSize - 1));
  }
  return result;
}

bool PosixProfileStrings::WriteString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& file) {
  const fs::path path = mapper_.Map(file);
  std::error_code ec;
  if (fs::is_directory(path, ec)) return false;
  // A missing file is created, as the Windows service does; a missing folder is a failure.
  const std::string content = ReadFile(path).value_or("");
  return ReplaceFile(path, IniText(content).With(section, key, value));
}

}  // namespace updater::posix
