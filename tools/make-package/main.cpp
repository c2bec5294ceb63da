// make-package: builds an update package from a folder, for tests and the demo.
//
//   make-package OUTPUT SOURCE_DIR [--format zip|7z|tar|tgz] [--add-entry NAME=TEXT]...
//                [--add-symlink NAME=TARGET]... [--add-fifo NAME]... [--truncate N]
//
// Every file, folder and symbolic link below SOURCE_DIR becomes an entry named relative to it,
// in UTF-8, in name order. The default format is zip: RAR cannot be written here, and the rar
// stand-in reads any format, so the package keeps the name setup.rar.
//
// Options that make packages the updater must survive, stored after the folder's entries, in
// the order given:
//   --add-entry NAME=TEXT       a file NAME holding TEXT; NAME is stored verbatim, so it may be
//                               "../evil.txt", "/tmp/x" or "sub\file.txt"
//   --add-symlink NAME=TARGET   a symbolic link NAME pointing at TARGET, verbatim
//   --add-fifo NAME             a fifo entry (tar only)
//   --truncate N                cut the written package to its first N bytes
//
// Exit codes: 0 written; 1 the package could not be made; 2 bad command line.

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Failure {
  int code;
  std::string message;
};

struct Extra {
  enum Kind { kFile, kSymlink, kFifo } kind;
  std::string name;
  std::string value;  // the text of a file, the target of a link
};

struct Options {
  fs::path output;
  fs::path source;
  std::string format = "zip";
  std::vector<Extra> extras;
  std::optional<std::uintmax_t> truncate;
};

const char kUsage[] =
    "usage: make-package OUTPUT SOURCE_DIR [--format zip|7z|tar|tgz] [--add-entry NAME=TEXT]... "
    "[--add-symlink NAME=TARGET]... [--add-fifo NAME]... [--truncate N]";

std::pair<std::string, std::string> SplitAssignment(const std::string& option,
                                                    const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw Failure{2, option + " needs NAME=VALUE, not \"" + text + "\""};
  }
  return {text.substr(0, equals), text.substr(equals + 1)};
}

Options ParseCommandLine(int argc, char** argv) {
  Options options;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!arg.starts_with("--")) {
      operands.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) throw Failure{2, arg + " needs a value; " + kUsage};
    const std::string value = argv[++i];
    if (arg == "--format") {
      options.format = value;
    } else if (arg == "--add-entry") {
      auto [name, text] = SplitAssignment(arg, value);
      options.extras.push_back({Extra::kFile, name, text});
    } else if (arg == "--add-symlink") {
      auto [name, target] = SplitAssignment(arg, value);
      options.extras.push_back({Extra::kSymlink, name, target});
    } else if (arg == "--add-fifo") {
      options.extras.push_back({Extra::kFifo, value, ""});
    } else if (arg == "--truncate") {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || value[0] == '-') {
        throw Failure{2, "--truncate needs a byte count, not \"" + value + "\""};
      }
      options.truncate = n;
    } else {
      throw Failure{2, "unknown option " + arg + "; " + kUsage};
    }
  }
  if (operands.size() != 2) throw Failure{2, kUsage};
  options.output = operands[0];
  options.source = operands[1];
  return options;
}

using ArchivePtr = std::unique_ptr<archive, int (*)(archive*)>;
using EntryPtr = std::unique_ptr<archive_entry, void (*)(archive_entry*)>;

class Writer {
 public:
  explicit Writer(const Options& options) : writer_(archive_write_new(), archive_write_free) {
    archive* a = writer_.get();
    int r = ARCHIVE_OK;
    if (options.format == "zip") {
      r = archive_write_set_format_zip(a);
      // Names are flagged as UTF-8, as Windows archivers expect for non-ASCII names.
      if (r == ARCHIVE_OK) r = archive_write_set_format_option(a, "zip", "hdrcharset", "UTF-8");
    } else if (options.format == "7z") {
      r = archive_write_set_format_7zip(a);
    } else if (options.format == "tar" || options.format == "tgz") {
      r = archive_write_set_format_pax_restricted(a);
      if (r == ARCHIVE_OK && options.format == "tgz") r = archive_write_add_filter_gzip(a);
    } else {
      throw Failure{2, "unknown format \"" + options.format + "\"; " + kUsage};
    }
    if (r != ARCHIVE_OK) Fail("cannot choose format " + options.format);
    if (archive_write_open_filename(a, options.output.c_str()) != ARCHIVE_OK) {
      Fail("cannot create " + options.output.string());
    }
  }

  void AddFile(const std::string& name, const fs::path& file, const struct stat& st) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Failure{1, "cannot read " + file.string()};
    EntryPtr entry = NewEntry(name, AE_IFREG, st.st_mode & 07777, st.st_mtime);
    archive_entry_set_size(entry.get(), st.st_size);
    WriteHeader(entry.get());
    std::vector<char> buffer(64 * 1024);
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      WriteData(buffer.data(), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) throw Failure{1, "cannot read " + file.string()};
  }

  void AddText(const std::string& name, const std::string& text) {
    EntryPtr entry = NewEntry(name, AE_IFREG, 0644, std::time(nullptr));
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(text.size()));
    WriteHeader(entry.get());
    WriteData(text.data(), text.size());
  }

  void AddFolder(const std::string& name, const struct stat& st) {
    EntryPtr entry = NewEntry(name + "/", AE_IFDIR, st.st_mode & 07777, st.st_mtime);
    WriteHeader(entry.get());
  }

  void AddSymlink(const std::string& name, const std::string& target) {
    EntryPtr entry = NewEntry(name, AE_IFLNK, 0777, std::time(nullptr));
    archive_entry_set_symlink_utf8(entry.get(), target.c_str());
    WriteHeader(entry.get());
  }

  void AddFifo(const std::string& name) {
    EntryPtr entry = NewEntry(name, AE_IFIFO, 0644, std::time(nullptr));
    WriteHeader(entry.get());
  }

  void Close() {
    if (archive_write_close(writer_.get()) != ARCHIVE_OK) Fail("cannot finish the package");
  }

 private:
  static EntryPtr NewEntry(const std::string& name, mode_t type, mode_t permissions, time_t mtime) {
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), type);
    archive_entry_set_perm(entry.get(), permissions);
    archive_entry_set_mtime(entry.get(), mtime, 0);
    return entry;
  }

  void WriteHeader(archive_entry* entry) {
    if (archive_write_header(writer_.get(), entry) != ARCHIVE_OK) {
      Fail(std::string("cannot add ") + archive_entry_pathname_utf8(entry));
    }
  }

  void WriteData(const char* data, size_t size) {
    if (size > 0 && archive_write_data(writer_.get(), data, size) < 0) Fail("cannot write data");
  }

  [[noreturn]] void Fail(const std::string& what) {
    const char* why = archive_error_string(writer_.get());
    throw Failure{1, what + ": " + (why != nullptr ? why : "unknown error")};
  }

  ArchivePtr writer_;
};

void AddFolderContent(Writer& writer, const fs::path& source) {
  std::error_code error;
  if (!fs::is_directory(source, error)) throw Failure{1, source.string() + " is not a folder"};
  std::vector<fs::path> paths;
  for (fs::recursive_directory_iterator it(source, error), end; !error && it != end;
       it.increment(error)) {
    paths.push_back(it->path());
  }
  if (error) throw Failure{1, "cannot list " + source.string() + ": " + error.message()};
  std::sort(paths.begin(), paths.end());

  for (const fs::path& path : paths) {
    const std::string name = path.lexically_relative(source).generic_string();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      throw Failure{1, "cannot read " + path.string() + ": " + std::strerror(errno)};
    }
    if (S_ISDIR(st.st_mode)) {
      writer.AddFolder(name, st);
    } else if (S_ISREG(st.st_mode)) {
      writer.AddFile(name, path, st);
    } else if (S_ISLNK(st.st_mode)) {
      writer.AddSymlink(name, fs::read_symlink(path).string());
    } else {
      throw Failure{1, path.string() + " is neither a file, a folder nor a link"};
    }
  }
}

void Truncate(const fs::path& output, std::uintmax_t size) {
  const std::uintmax_t written = fs::file_size(output);
  if (size > written) {
    throw Failure{1, "cannot truncate to " + std::to_string(size) + " bytes: the package has " +
                         std::to_string(written)};
  }
  fs::resize_file(output, size);
}

// A half-written package must not be mistaken for a made one.
void RemovePartial(const fs::path& output) {
  std::error_code ignored;
  if (!output.empty()) fs::remove(output, ignored);
}

void UseUtf8Locale() {
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    if (std::setlocale(LC_CTYPE, name) != nullptr) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Locale();
  Options options;
  try {
    options = ParseCommandLine(argc, argv);
    Writer writer(options);
    AddFolderContent(writer, options.source);
    for (const Extra& extra : options.extras) {
      switch (extra.kind) {
        case Extra::kFile:
          writer.AddText(extra.name, extra.value);
          break;
        case Extra::kSymlink:
          writer.AddSymlink(extra.name, extra.value);
          break;
        case Extra::kFifo:
          writer.AddFifo(extra.name);
          break;
      }
    }
    writer.Close();
    if (options.truncate) Truncate(options.output, *options.truncate);
    return 0;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "make-package: %s\n", failure.message.c_str());
    RemovePartial(options.output);
    return failure.code;
  } catch (const fs::filesystem_error& error) {
    std::fprintf(stderr, "make-package: %s\n", error.what());
    RemovePartial(options.output);
    return 1;
  }
}
