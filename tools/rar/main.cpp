// rar: the archiver stand-in that posix program folders hold as rar.exe.
//
//   rar x ARCHIVE DESTDIR [-y]
//
// Extracts every entry of ARCHIVE, with its folders, into DESTDIR. The command is compared without
// regard to case; switches may stand anywhere after it. -y answers yes to every question: existing
// files are overwritten silently. Without -y nobody is there to answer, so an existing file is left
// alone and the run fails. DESTDIR is created when only its last component is missing.
//
// The archive may be RAR 4 or 5, ZIP, 7z, tar (plain or compressed), cpio, cab, lha, xar or ISO
// 9660. Entry names are UTF-8; a backslash in a name, as Windows archivers write them, separates
// folders.
//
// Nothing is written outside DESTDIR: an entry with an absolute name or a ".." component, a
// symbolic link whose target leaves DESTDIR, a write through a symbolic link, and a device, fifo or
// socket entry are refused, and a refused entry ends the run.
//
// Exit codes, those of the Windows archiver: 0 every entry extracted; 3 the archive is damaged,
// truncated or no archive; 6 the archive cannot be opened; 7 bad command line; 9 an entry was
// refused or could not be written. Every failure prints one line on stderr.

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kDamaged = 3;
constexpr int kOpenError = 6;
constexpr int kUsage = 7;
constexpr int kCreateError = 9;

struct Error {
  int code;
  std::string message;
};

struct Command {
  std::string archive;
  std::string destination;
  bool yes = false;
};

std::string ToLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The message is one line even when a name in it holds line breaks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

Command ParseCommandLine(int argc, char** argv) {
  const std::string usage = "usage: rar x ARCHIVE DESTDIR [-y]";
  if (argc < 2) throw Error{kUsage, usage};
  if (ToLower(argv[1]) != "x") {
    throw Error{kUsage, "unknown command \"" + std::string(argv[1]) + "\"; " + usage};
  }
  Command command;
  std::vector<std::string> operands;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 1 && arg[0] == '-') {
      if (ToLower(arg) != "-y") throw Error{kUsage, "unknown switch " + arg + "; " + usage};
      command.yes = true;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) throw Error{kUsage, usage};
  command.archive = operands[0];
  command.destination = operands[1];
  return command;
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsAbsolute(std::string_view name) {
  if (name.starts_with('/')) return true;
  // A drive ("C:") means the root of a Windows drive.
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// The entry's name as a path below the destination, "" for the destination itself, nullopt when
// it would lead elsewhere.
std::optional<std::string> PathBelowDestination(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  if (IsAbsolute(name)) return std::nullopt;
  std::string path;
  for (const std::string& part : SplitPath(name)) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;
    if (!path.empty()) path += '/';
    path += part;
  }
  return path;
}

// Whether a link at `path` (below the destination) pointing at `target` stays below it.
bool LinkStaysInside(const std::string& path, std::string target) {
  std::replace(target.begin(), target.end(), '\\', '/');
  if (IsAbsolute(target)) return false;
  std::vector<std::string> folder = SplitPath(path);
  folder.pop_back();
  for (const std::string& part : SplitPath(target)) {
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      folder.push_back(part);
    } else if (folder.empty()) {
      return false;
    } else {
      folder.pop_back();
    }
  }
  return true;
}

using ArchivePtr = std::unique_ptr<archive, int (*)(archive*)>;

class Extractor {
 public:
  explicit Extractor(const Command& command)
      : command_(command),
        reader_(archive_read_new(), archive_read_free),
        writer_(archive_write_disk_new(), archive_write_free) {}

  void Run() {
    Open();
    // The first header tells whether this is an archive at all; nothing is created before that.
    archive_entry* entry = nullptr;
    int r = NextHeader(&entry);
    EnterDestination();
    archive_write_disk_set_options(writer_.get(), ARCHIVE_EXTRACT_TIME |
                                                      ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                      ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);

    while (r != ARCHIVE_EOF) {
      Extract(entry);
      r = NextHeader(&entry);
    }
  }

 private:
  int NextHeader(archive_entry** entry) {
    const int r = archive_read_next_header(reader_.get(), entry);
    // A warning while reading means damage (a skipped bad block, a bad checksum): no entry of a
    // damaged package is trusted.
    if (r != ARCHIVE_OK && r != ARCHIVE_EOF) throw Damaged();
    return r;
  }

  void Open() {
    // Formats are listed rather than taken all at once: mtree is left out because its entries
    // name files on this machine, which would be copied into the destination.
    archive* a = reader_.get();
    archive_read_support_filter_all(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_cab(a);
    archive_read_support_format_cpio(a);
    archive_read_support_format_iso9660(a);
    archive_read_support_format_lha(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_xar(a);
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, command_.archive.c_str(), 64 * 1024) != ARCHIVE_OK) {
      // A file that can be read but not opened as an archive is no archive.
      if (::access(command_.archive.c_str(), R_OK) == 0) throw Damaged();
      throw Error{kOpenError, "cannot open " + command_.archive + ": " + ReaderError()};
    }
  }

  // Entries are written with names relative to the destination, so that the library's checks
  // for absolute names and symbolic links apply to the part of the path the archive controls.
  void EnterDestination() {
    const std::string& destination = command_.destination;
    struct stat st {};
    if (::stat(destination.c_str(), &st) != 0) {
      if (errno != ENOENT || ::mkdir(destination.c_str(), 0777) != 0) {
        throw Error{kCreateError,
                    "cannot create folder " + destination + ": " + std::strerror(errno)};
      }
    } else if (!S_ISDIR(st.st_mode)) {
      throw Error{kCreateError, destination + " is not a folder"};
    }
    if (::chdir(destination.c_str()) != 0) {
      throw Error{kCreateError, "cannot enter folder " + destination + ": " + std::strerror(errno)};
    }
  }

  void Extract(archive_entry* entry) {
    const char* raw_name = archive_entry_pathname_utf8(entry);
    if (raw_name == nullptr) {
      throw Error{kDamaged, command_.archive + ": an entry name is not UTF-8"};
    }
    const std::string name = raw_name;
    const std::optional<std::string> path = PathBelowDestination(name);
    if (!path) throw Refused(name, "it would land outside " + command_.destination);

    const mode_t type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
      throw Refused(name, "it is a device, fifo or socket");
    }
    if (path->empty()) {
      if (type == AE_IFDIR) return;  // the destination itself
      throw Refused(name, "it has no name");
    }
    archive_entry_set_pathname_utf8(entry, path->c_str());
    struct stat existing {};
    if (!command_.yes && type != AE_IFDIR && ::lstat(path->c_str(), &existing) == 0) {
      throw Error{kCreateError, "not overwriting " + name + " without -y"};
    }

    if (const char* hardlink = archive_entry_hardlink_utf8(entry)) {
      const std::optional<std::string> target = PathBelowDestination(hardlink);
      if (!target || target->empty()) throw Refused(name, "its link leads outside");
      archive_entry_set_hardlink_utf8(entry, target->c_str());
    }
    if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink_utf8(entry);
      if (target == nullptr || !LinkStaysInside(*path, target)) {
        throw Refused(name, "its link leads outside " + command_.destination);
      }
      std::string link = target;
      std::replace(link.begin(), link.end(), '\\', '/');
      archive_entry_set_symlink_utf8(entry, link.c_str());
    }

    if (archive_write_header(writer_.get(), entry) < ARCHIVE_WARN) throw WriteFailed(name);
    for (;;) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      const int r = archive_read_data_block(reader_.get(), &block, &size, &offset);
      if (r == ARCHIVE_EOF) break;
      if (r != ARCHIVE_OK) throw Damaged();  // a warning here is a checksum mismatch
      if (archive_write_data_block(writer_.get(), block, size, offset) < ARCHIVE_OK) {
        throw WriteFailed(name);
      }
    }
    if (archive_write_finish_entry(writer_.get()) < ARCHIVE_WARN) throw WriteFailed(name);
  }

  std::string ReaderError() const {
    const char* text = archive_error_string(reader_.get());
    return text != nullptr ? text : "it ends early or cannot be read";
  }

  Error Damaged() const {
    return Error{kDamaged, command_.archive + " is damaged or no archive: " + ReaderError()};
  }

  Error Refused(const std::string& name, const std::string& why) const {
    return Error{kCreateError, "refused entry " + name + ": " + why};
  }

  Error WriteFailed(const std::string& name) const {
    const char* text = archive_error_string(writer_.get());
    return Error{kCreateError,
                 "cannot write " + name + ": " + (text != nullptr ? text : "unknown error")};
  }

  const Command& command_;
  ArchivePtr reader_;
  ArchivePtr writer_;
};

// libarchive converts names through the locale's character set; it must be UTF-8 for names
// such as 项目说明.txt to survive.
void UseUtf8Locale() {
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    if (std::setlocale(LC_CTYPE, name) != nullptr) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Locale();
  try {
    Command command = ParseCommandLine(argc, argv);
    // The archive is named relative to where we were started, not to the destination.
    std::error_code ignored;
    const std::filesystem::path archive = std::filesystem::absolute(command.archive, ignored);
    if (!archive.empty()) command.archive = archive.string();
    Extractor(command).Run();
    return 0;
  } catch (const Error& error) {
    std::fprintf(stderr, "rar: %s\n", OneLine(error.message).c_str());
    return error.code;
  }
}
