// The archiver stand-in of the Windows whole runs, installed as rar.exe in the program folder:
//
//   rar x ARCHIVE DESTDIR [-y]
//
// Unpacks an uncompressed tar archive (ustar, with pax or GNU long names, as tools/make-package
// --format tar writes it) into DESTDIR, creating its folders; entry names are UTF-8. -y
// overwrites existing files; without it an existing file fails the run. Nothing is written
// outside DESTDIR: an absolute name, a drive, a ".." component, and any entry other than a file
// or a folder (links, devices, fifos) are refused, and a refused entry ends the run.
//
// Exit codes, those of the Windows archiver: 0 all extracted; 3 damaged or truncated archive;
// 6 the archive cannot be opened; 7 bad command line; 9 an entry refused or not written.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kDamaged = 3;
constexpr int kOpenError = 6;
constexpr int kUsage = 7;
constexpr int kCreateError = 9;
constexpr std::size_t kBlock = 512;

struct Failure {
  int code;
  std::wstring message;
};

std::wstring FromUtf8(const std::string& s) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(),
                                    static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0 && !s.empty()) throw Failure{kDamaged, L"an entry name is not UTF-8"};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) throw Failure{kOpenError, L"cannot open " + path};
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(f);
  return bytes;
}

// A field of a header: text up to the first zero byte.
std::string Field(const char* p, std::size_t n) {
  std::size_t len = 0;
  while (len < n && p[len] != '\0') ++len;
  return std::string(p, len);
}

std::size_t Octal(const char* p, std::size_t n) {
  std::size_t value = 0;
  std::size_t i = 0;
  while (i < n && p[i] == ' ') ++i;
  if (i == n || p[i] < '0' || p[i] > '7') throw Failure{kDamaged, L"a header has a bad number"};
  for (; i < n && p[i] >= '0' && p[i] <= '7'; ++i) value = value * 8 + (p[i] - '0');
  return value;
}

bool ChecksumMatches(const char* h) {
  std::size_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(h[i]);
  }
  return Octal(h + 148, 8) == sum;
}

// The "path" record of a pax extended header ("LEN key=value\n" records), or "".
std::string PaxPath(const std::string& data) {
  std::size_t pos = 0;
  std::string path;
  while (pos < data.size()) {
    const std::size_t space = data.find(' ', pos);
    if (space == std::string::npos) throw Failure{kDamaged, L"a pax header is damaged"};
    const std::size_t len = std::stoul(data.substr(pos, space - pos));
    if (len == 0 || pos + len > data.size() || data[pos + len - 1] != '\n') {
      throw Failure{kDamaged, L"a pax header is damaged"};
    }
    const std::string record = data.substr(space + 1, pos + len - 1 - (space + 1));
    if (record.rfind("path=", 0) == 0) path = record.substr(5);
    pos += len;
  }
  return path;
}

// The folders of a stored name, checked: nothing may lead outside the target folder.
std::vector<std::wstring> SafeComponents(const std::string& name) {
  std::wstring wide = FromUtf8(name);
  for (auto& c : wide) {
    if (c == L'\\') c = L'/';
  }
  if (wide.empty() || wide[0] == L'/' || (wide.size() > 1 && wide[1] == L':')) {
    throw Failure{kCreateError, L"refused entry with an absolute name: " + wide};
  }
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start <= wide.size()) {
    std::size_t end = wide.find(L'/', start);
    if (end == std::wstring::npos) end = wide.size();
    const std::wstring part = wide.substr(start, end - start);
    if (part == L"..") throw Failure{kCreateError, L"refused entry leaving the folder: " + wide};
    if (part.find(L':') != std::wstring::npos) {
      throw Failure{kCreateError, L"refused entry naming a stream or drive: " + wide};
    }
    if (!part.empty() && part != L".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

void MakeFolder(const std::wstring& path) {
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throw Failure{kCreateError, L"cannot create the folder " + path};
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw Failure{kCreateError, L"not a folder: " + path};
  }
}

void WriteEntry(const std::wstring& dest, const std::vector<std::wstring>& parts, bool folder,
                const char* data, std::size_t size, bool overwrite) {
  std::wstring path = dest;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    path += L"\\" + parts[i];
    if (i + 1 < parts.size() || folder) MakeFolder(path);
  }
  if (folder) return;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                         overwrite ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) throw Failure{kCreateError, L"cannot write " + path};
  DWORD put = 0;
  const bool ok = WriteFile(f, data, static_cast<DWORD>(size), &put, nullptr) && put == size;
  CloseHandle(f);
  if (!ok) throw Failure{kCreateError, L"cannot write " + path};
}

void Extract(const std::string& archive, const std::wstring& dest, bool overwrite) {
  std::size_t pos = 0;
  std::string longName;  // from a pax or GNU header, for the entry that follows
  for (;;) {
    if (pos + kBlock > archive.size()) throw Failure{kDamaged, L"the archive is truncated"};
    const char* h = archive.data() + pos;
    bool zero = true;
    for (std::size_t i = 0; i < kBlock && zero; ++i) zero = h[i] == '\0';
    if (zero) return;  // the end-of-archive marker
    if (!ChecksumMatches(h)) throw Failure{kDamaged, L"a header is damaged"};
    const std::size_t size = Octal(h + 124, 12);
    const char type = h[156];
    pos += kBlock;
    if (size > archive.size() - pos) throw Failure{kDamaged, L"the archive is truncated"};
    const char* data = archive.data() + pos;
    pos += (size + kBlock - 1) / kBlock * kBlock;

    if (type == 'x') {
      longName = PaxPath(std::string(data, size));
      continue;
    }
    if (type == 'L') {
      longName = Field(data, size);
      continue;
    }
    if (type == 'g') continue;  // global pax records name no entry
    std::string name = Field(h, 100);
    const std::string prefix = Field(h + 345, 155);
    if (std::string(h + 257, 5) == "ustar" && !prefix.empty()) name = prefix + "/" + name;
    if (!longName.empty()) name = longName;
    longName.clear();

    const std::vector<std::wstring> parts = SafeComponents(name);
    if (type == '0' || type == '\0' || type == '7') {
      if (parts.empty()) throw Failure{kCreateError, L"refused a file without a name"};
      WriteEntry(dest, parts, false, data, size, overwrite);
    } else if (type == '5') {
      WriteEntry(dest, parts, true, nullptr, 0, overwrite);
    } else {
      throw Failure{kCreateError,
                    L"refused entry of type " + std::wstring(1, type) + L": " + FromUtf8(name)};
    }
  }
}

int Run(int argc, wchar_t** argv) {
  std::vector<std::wstring> operands;
  bool yes = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (!operands.empty() && arg.size() > 1 && arg[0] == L'-') {
      if (_wcsicmp(arg.c_str(), L"-y") != 0) throw Failure{kUsage, L"unknown switch " + arg};
      yes = true;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 3 || _wcsicmp(operands[0].c_str(), L"x") != 0) {
    throw Failure{kUsage, L"usage: rar x ARCHIVE DESTDIR [-y]"};
  }
  std::wstring dest = operands[2];
  while (dest.size() > 3 && (dest.back() == L'\\' || dest.back() == L'/')) dest.pop_back();
  const std::string archive = ReadAll(operands[1]);
  MakeFolder(dest);
  Extract(archive, dest, yes);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& f) {
    std::fwprintf(stderr, L"rar: %ls\n", f.message.c_str());
    return f.code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rar: %s\n", e.what());
    return kDamaged;
  }
}
