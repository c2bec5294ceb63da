#include "release.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace publish {
namespace {

// Longest text a client stores: the version columns are Access text columns of 255 characters,
// and a value that does not fit fails the version record, so the upgrade would repeat forever.
constexpr std::size_t kMaxCharacters = 255;

// Decodes one UTF-8 sequence at `at`; nullopt for anything that is not a valid scalar value
// (overlong forms, surrogates, beyond U+10FFFF, cut short).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length;
  char32_t value;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (at + length > text.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return std::nullopt;
  }
  at += length;
  return value;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(std::string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  return text.substr(first);
}

// An entity or character reference: '&', a name or '#' and digits, ';'.
bool IsReferenceAt(std::string_view text, std::size_t amp) {
  std::size_t i = amp + 1;
  if (i < text.size() && text[i] == '#') ++i;
  const std::size_t start = i;
  while (i < text.size() &&
         ((text[i] >= 'a' && text[i] <= 'z') || (text[i] >= 'A' && text[i] <= 'Z') ||
          (text[i] >= '0' && text[i] <= '9'))) {
    ++i;
  }
  return i > start && i < text.size() && text[i] == ';';
}

// Problems of one text field; `name` is how the publisher calls it.
void CheckText(const std::string& name, std::string_view text, Encoding encoding, bool blanksAtEnds,
               std::vector<std::string>& problems) {
  std::size_t at = 0, characters = 0;
  while (at < text.size()) {
    const auto c = NextCodePoint(text, at);
    if (!c) {
      problems.push_back(name + " is not valid UTF-8 text");
      return;
    }
    ++characters;
    // XML 1.0 has no place for control characters, and a line break would not survive the
    // client's database either.
    if (*c < 0x20 || *c == 0x7F || *c == 0xFFFE || *c == 0xFFFF) {
      problems.push_back(name + " holds a control character (U+" +
                         std::to_string(static_cast<std::uint32_t>(*c)) + ")");
      return;
    }
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<' || text[i] == '>' || (text[i] == '&' && IsReferenceAt(text, i))) {
      problems.push_back(name + " holds markup (\"" + std::string(1, text[i]) +
                         "\"); the clients show it as text, so write it as plain text");
      return;
    }
  }
  if (!blanksAtEnds && !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()))) {
    problems.push_back(name + " begins or ends with a blank; clients compare it exactly");
  }
  if (characters > kMaxCharacters) {
    problems.push_back(name + " is longer than " + std::to_string(kMaxCharacters) + " characters");
  }
  if (encoding == Encoding::kGbk && !ToGbk(text)) {
    problems.push_back(name + " holds a character that GBK cannot encode");
  }
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(separator, from);
    pieces.emplace_back(text.substr(from, at - from));
    if (at == std::string_view::npos) return pieces;
    from = at + separator.size();
  }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

void CheckServers(std::string_view servers, Encoding encoding, std::vector<std::string>& problems) {
  if (servers.empty()) return;
  const auto entries = Split(servers, "||");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string where = "servers entry " + std::to_string(i + 1);
    const auto pieces = Split(entries[i], "^^");
    // A client keeps one address per row; an entry without both would leave a row that
    // probes nothing or the wrong server.
    if (pieces.size() != 2 || pieces[0].empty() || pieces[1].empty()) {
      problems.push_back(where + " must be ADDRESS^^NAME, not \"" + entries[i] + "\"");
      continue;
    }
    if (!StartsWithNoCase(pieces[0], "http://") && !StartsWithNoCase(pieces[0], "https://")) {
      problems.push_back(where + ": the address must start with http://");
    }
    CheckText(where, entries[i], encoding, false, problems);
  }
}

void CheckPrefix(const std::string& prefix, std::vector<std::string>& problems) {
  if (prefix.empty()) return;
  bool plain = prefix != "." && prefix != "..";
  for (char c : prefix) {
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == '~');
  }
  // The clients join item_id into the address as it stands, without escaping.
  if (!plain) {
    problems.push_back("prefix \"" + prefix +
                       "\" must be one path segment of letters, digits and - _ . ~");
  }
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Element(std::string_view name, std::string_view text) {
  return "<" + std::string(name) + ">" + Escape(text) + "</" + std::string(name) + ">";
}

std::string Document(const Release& release, const std::string& root) {
  const std::string label = release.encoding == Encoding::kGbk ? "GBK" : "utf-8";
  const std::string utf8 =
      "<?xml version=\"1.0\" encoding=\"" + label + "\"?>\r\n<root>" + root + "</root>\r\n";
  return release.encoding == Encoding::kGbk ? ToGbk(utf8).value() : utf8;
}

std::string Under(const Release& release, const std::string& path) {
  return release.prefix.empty() ? path : release.prefix + "/" + path;
}

}  // namespace

std::optional<std::string> ToGbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  char buffer[4096];
  char* in = const_cast<char*>(utf8.data());
  std::size_t left = utf8.size();
  bool ok = true;
  while (left > 0) {
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = iconv(cd, &in, &left, &dst, &room);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

std::vector<std::string> Check(const Release& release) {
  std::vector<std::string> problems;
  if (release.version.empty()) problems.push_back("the version number is empty");
  if (release.time.empty()) problems.push_back("the release time is empty");
  CheckText("the version number", release.version, release.encoding, false, problems);
  CheckText("the release time", release.time, release.encoding, false, problems);
  CheckText("the comment", release.comment, release.encoding, true, problems);
  CheckServers(release.servers, release.encoding, problems);
  CheckPrefix(release.prefix, problems);
  return problems;
}

std::map<std::string, std::string> ParseDescription(std::string_view text,
                                                    std::vector<std::string>& problems) {
  static const char* const kKeys[] = {"version", "time", "comment", "servers"};
  std::map<std::string, std::string> values;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const auto lines = Split(text, "\n");
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string line = lines[n];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') continue;
    const std::string where = "line " + std::to_string(n + 1) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      problems.push_back(where + "expected key=value");
      continue;
    }
    std::string key = line.substr(first, equals - first);
    while (!key.empty() && IsBlank(key.back())) key.pop_back();
    bool known = false;
    for (const char* k : kKeys) known = known || key == k;
    if (!known) {
      problems.push_back(where + "unknown key \"" + key + "\" (version, time, comment, servers)");
    } else if (!values.emplace(key, Trim(line.substr(equals + 1))).second) {
      problems.push_back(where + "\"" + key + "\" given twice");
    }
  }
  return values;
}

std::vector<Page> Pages(const Release& release) {
  const std::string servers =
      release.servers.empty() ? "" : Element("lcserverurl", release.servers);
  return {
      {Under(release, "xmlRequest/XmlCheckServerStatus.aspx"),
       Document(release, "<error></error>")},
      {Under(release, "InteractData/Xmlsendservername.aspx"), Document(release, "<error></error>")},
      {Under(release, "xmlRequest/xmlGetServerName.aspx"),
       Document(release, "<error></error>" + servers + "<res></res>")},
      // Last: a client that sees the new version must find its package already in place.
      {Under(release, "xmlRequest/Xmlclientversion.aspx"),
       Document(release, "<error></error>" + Element("version_no", release.version) +
                             Element("update_time", release.time) +
                             Element("soft_cmt", release.comment) + "<bm></bm>")},
  };
}

std::string PackageFolder(const Release& release) { return Under(release, "uploads/soft"); }

}  // namespace publish
