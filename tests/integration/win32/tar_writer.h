#pragma once
// Update packages for the whole runs, written as tools/make-package --format tar writes them
// (ustar, with a pax header carrying the UTF-8 name of an entry whose name is not plain ASCII
// or too long), so that the rar stand-in reads here what it reads from the package maker.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace wholerun {

struct TarEntry {
  std::string name;  // UTF-8, "/" between folders; a folder's name ends in "/"
  std::string data;
};

namespace tar_detail {

inline void PutOctal(char* field, std::size_t width, unsigned long long value) {
  std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), value);
}

inline std::string Header(const std::string& name, char type, std::size_t size) {
  char h[512] = {};
  std::memcpy(h, name.data(), std::min<std::size_t>(name.size(), 100));
  PutOctal(h + 100, 8, type == '5' ? 0755 : 0644);
  PutOctal(h + 108, 8, 0);
  PutOctal(h + 116, 8, 0);
  PutOctal(h + 124, 12, size);
  PutOctal(h + 136, 12, 1700000000);
  h[156] = type;
  std::memcpy(h + 257, "ustar", 6);
  std::memcpy(h + 263, "00", 2);
  std::memset(h + 148, ' ', 8);
  unsigned sum = 0;
  for (const char c : h) sum += static_cast<unsigned char>(c);
  std::snprintf(h + 148, 8, "%06o", sum);  // six digits, a zero byte, then the blank
  h[155] = ' ';
  return std::string(h, 512);
}

inline std::string Padded(std::string data) {
  data.resize((data.size() + 511) / 512 * 512, '\0');
  return data;
}

inline bool PlainShortName(const std::string& name) {
  if (name.size() >= 100) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

inline std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::string body = " " + key + "=" + value + "\n";
  std::size_t len = body.size() + 1;
  while (std::to_string(len).size() + body.size() != len) ++len;
  return std::to_string(len) + body;
}

}  // namespace tar_detail

inline std::string MakeTar(const std::vector<TarEntry>& entries) {
  using namespace tar_detail;
  std::string out;
  for (const TarEntry& e : entries) {
    const bool folder = !e.name.empty() && e.name.back() == '/';
    std::string stored = e.name;
    if (!PlainShortName(e.name)) {
      const std::string pax = PaxRecord("path", e.name);
      out += Header("PaxHeader/entry", 'x', pax.size()) + Padded(pax);
      stored.clear();  // the ustar name is only a fallback for readers without pax
      for (const char c : e.name) stored += static_cast<unsigned char>(c) < 0x80 ? c : '_';
      stored = stored.substr(0, 99);
    }
    out += Header(stored, folder ? '5' : '0', folder ? 0 : e.data.size());
    if (!folder) out += Padded(e.data);
  }
  out += std::string(1024, '\0');
  out.resize((out.size() + 10239) / 10240 * 10240, '\0');  // whole records, as tar writes them
  return out;
}

}  // namespace wholerun
