// publish: writes a static update site for a release, to be served by any web server
// (nginx.conf.in).
//
//   publish --site DIR --package SETUP.RAR [--release FILE] [--version V] [--time T]
//           [--comment TEXT] [--servers TEXT] [--prefix ITEM_ID] [--encoding utf-8|gbk]
//           [--key KEY.pem] [--any-archive]
//   publish --make-key KEY.pem
//   publish --help
//
// The release description comes from FILE (key=value lines: version, time, comment, servers)
// and the options, an option winning over the same key of the file. Everything is checked
// before anything is written; a refused release writes nothing.
//
// Exit codes: 0 published (or key made); 1 refused or failed; 2 bad command line.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "blocks.h"
#include "release.h"
#include "signing.h"

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage: publish --site DIR --package SETUP.RAR [--release FILE] [--version V] [--time T]\n"
    "               [--comment TEXT] [--servers TEXT] [--prefix ITEM_ID] [--encoding utf-8|gbk]\n"
    "               [--key KEY.pem] [--any-archive]\n"
    "       publish --make-key KEY.pem\n"
    "       publish --help\n";

struct Options {
  fs::path site, package, release_file, key, make_key;
  std::map<std::string, std::string> values;  // version, time, comment, servers
  std::string prefix;
  std::string encoding = "utf-8";
  bool any_archive = false;
  bool help = false;
};

struct UsageError {
  std::string message;
};

Options ParseCommandLine(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return o;
    }
    if (arg == "--any-archive") {
      o.any_archive = true;
      continue;
    }
    if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
    const std::string value = argv[++i];
    if (arg == "--site") {
      o.site = value;
    } else if (arg == "--package") {
      o.package = value;
    } else if (arg == "--release") {
      o.release_file = value;
    } else if (arg == "--key") {
      o.key = value;
    } else if (arg == "--make-key") {
      o.make_key = value;
    } else if (arg == "--prefix") {
      o.prefix = value;
    } else if (arg == "--encoding") {
      o.encoding = value;
    } else if (arg == "--version" || arg == "--time" || arg == "--comment" || arg == "--servers") {
      o.values[arg.substr(2)] = value;
    } else {
      throw UsageError{"unknown option " + arg};
    }
  }
  if (!o.make_key.empty()) return o;
  if (o.site.empty()) throw UsageError{"--site is required"};
  if (o.package.empty()) throw UsageError{"--package is required"};
  if (o.encoding != "utf-8" && o.encoding != "gbk") {
    throw UsageError{"--encoding is utf-8 or gbk, not " + o.encoding};
  }
  return o;
}

std::optional<std::string> ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return bytes;
}

// What would break the clients in the package itself.
void CheckPackage(const Options& o, std::vector<std::string>& problems) {
  std::error_code error;
  if (!fs::is_regular_file(o.package, error)) {
    problems.push_back("the package " + o.package.string() + " is missing or not a file");
    return;
  }
  std::ifstream in(o.package, std::ios::binary);
  std::string head(1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  if (!in && !in.eof()) {
    problems.push_back("cannot read the package " + o.package.string());
    return;
  }
  if (head.empty()) {
    problems.push_back("the package " + o.package.string() + " is empty");
    return;
  }
  // The Windows client unpacks with rar.exe, which reads RAR archives only.
  if (!o.any_archive && !head.starts_with("Rar!\x1A\x07")) {
    problems.push_back("the package " + o.package.string() +
                       " is not a RAR archive (the clients unpack it with rar.exe)");
  }
  // The clients take a download whose first 1024 bytes hold this text for a missing page.
  const std::string notFound = "无法找到网页";
  if (head.find(notFound) != std::string::npos ||
      head.find(publish::ToGbk(notFound).value_or(notFound)) != std::string::npos) {
    problems.push_back(
        "the first 1024 bytes of the package hold \"无法找到网页\", which the "
        "clients take for a missing page");
  }
}

// The web server usually runs as another user: what the site holds must be readable by it
// whatever the publisher's umask.
constexpr fs::perms kFileMode =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kFolderMode =
    kFileMode | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;

// Makes folder and the missing folders above it, each open to the web server. Folders that
// exist are left as their owner made them.
void CreateFolders(const fs::path& folder) {
  if (folder.empty() || fs::is_directory(folder)) return;
  CreateFolders(folder.parent_path());
  if (fs::create_directory(folder)) fs::permissions(folder, kFolderMode);
}

// Writes `bytes` beside `target` and renames it into place, so a client never reads half a file.
void WriteAtomically(const fs::path& target, const std::string& bytes) {
  CreateFolders(target.parent_path());
  const fs::path temp = target.parent_path() /
                        ("." + target.filename().string() + ".tmp-" + std::to_string(::getpid()));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
      fs::remove(temp);
      throw std::runtime_error("cannot write " + target.string());
    }
  }
  fs::permissions(temp, kFileMode);
  fs::rename(temp, target);
}

// What a client of the release the site held before fetches of this one: "a client on 2.0
// fetches 3.1 MiB of 201.0 MiB (1.5 %)". Empty when the earlier package cannot be read.
std::string FetchReport(const updater::BlockIndex& index, const fs::path& earlier,
                        const fs::path& earlierBlocks) {
  std::string release = "the earlier release";
  if (const auto bytes = ReadFile(earlierBlocks)) {
    if (const auto old = updater::ParseBlockIndex(*bytes); old && !old->release.empty()) {
      release = old->release;
    }
  }
  try {
    const std::int64_t fetched = publish::BytesToFetch(index, earlier);
    char share[32];
    std::snprintf(share, sizeof share, "%.1f %%",
                  index.length > 0
                      ? 100.0 * static_cast<double>(fetched) / static_cast<double>(index.length)
                      : 0.0);
    return "a client on " + release + " fetches " + publish::Size(fetched) + " of " +
           publish::Size(index.length) + " (" + share + ")";
  } catch (const std::runtime_error&) {
    return "";
  }
}

// Solid archives compress each file with those before it, so one changed file changes all
// that follows it and clients fetch nearly the whole package again.
void WarnIfSolid(const fs::path& package) {
  std::ifstream in(package, std::ios::binary);
  std::string head(64, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  if (publish::SolidRar(head)) {
    std::cerr << "publish: warning: " << package.string()
              << " is a solid RAR archive: clients of the earlier release will fetch almost all "
                 "of it again (make it with rar's -s- switch: not solid)\n";
  }
}

int Publish(const Options& o) {
  std::vector<std::string> problems;
  std::map<std::string, std::string> values;
  if (!o.release_file.empty()) {
    const auto text = ReadFile(o.release_file);
    if (!text) {
      problems.push_back("cannot read the release description " + o.release_file.string());
    } else {
      std::vector<std::string> lines;
      values = publish::ParseDescription(*text, lines);
      for (const auto& p : lines) problems.push_back(o.release_file.string() + ": " + p);
    }
  }
  for (const auto& [key, value] : o.values) values[key] = value;

  publish::Release release;
  release.version = values["version"];
  release.time = values["time"];
  release.comment = values["comment"];
  release.servers = values["servers"];
  release.prefix = o.prefix;
  release.encoding = o.encoding == "gbk" ? publish::Encoding::kGbk : publish::Encoding::kUtf8;
  for (const auto& p : publish::Check(release)) problems.push_back(p);
  CheckPackage(o, problems);

  std::optional<publish::Signer> signer;
  if (!o.key.empty()) {
    try {
      signer.emplace(o.key);
    } catch (const publish::SigningError& e) {
      problems.push_back(e.message);
    }
  }
  if (!problems.empty()) {
    std::cerr << "publish: nothing written:\n";
    for (const auto& p : problems) std::cerr << "  " << p << "\n";
    return 1;
  }
  WarnIfSolid(o.package);

  // The package first, then its signature and its block index, then the pages: a client
  // that reads the new version finds the new package.
  const fs::path folder = o.site / publish::PackageFolder(release);
  const fs::path package = folder / "setup.rar";
  const fs::path signature = folder / "setup.rar.sig";
  const fs::path blocks = folder / "setup.rar.blocks";
  const fs::path temp = folder / (".setup.rar.tmp-" + std::to_string(::getpid()));
  std::string report;
  try {
    CreateFolders(folder);
    fs::copy_file(o.package, temp, fs::copy_options::overwrite_existing);
    fs::permissions(temp, kFileMode);
    // Signed and indexed from the copy, so both are of exactly the bytes that are served.
    const std::string sig = signer ? signer->Sign(temp) + "\n" : "";
    const updater::BlockIndex index = publish::IndexPackage(temp, release.version);
    if (fs::is_regular_file(package)) report = FetchReport(index, package, blocks);
    fs::rename(temp, package);
    if (signer) {
      WriteAtomically(signature, sig);
    } else if (fs::remove(signature)) {
      // An older release's signature would not match this package.
      std::cerr << "publish: removed the signature of the earlier release\n";
    }
    WriteAtomically(blocks, updater::WriteBlockIndex(index));
    for (const auto& page : publish::Pages(release)) {
      WriteAtomically(o.site / page.path, page.bytes);
    }
  } catch (const std::exception& e) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    std::cerr << "publish: " << e.what() << "\n";
    return 1;
  } catch (const publish::SigningError& e) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    std::cerr << "publish: " << e.message << "\n";
    return 1;
  }
  std::cout << "published " << release.version << " / " << release.time << " in "
            << (o.site / release.prefix).string() << "\n";
  if (signer) std::cout << "pubkey=" << signer->PublicKey() << "\n";
  if (!report.empty()) std::cout << report << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseCommandLine(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "publish: " << e.message << "\n" << kUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  if (!options.make_key.empty()) {
    try {
      // Made before anything is printed: a failure leaves standard output empty, so that
      // `>> client.ini` never appends a broken line.
      const std::string pubkey = publish::MakeKey(options.make_key);
      std::cout << "pubkey=" << pubkey << "\n";
      return 0;
    } catch (const publish::SigningError& e) {
      std::cerr << "publish: " << e.message << "\n";
      return 1;
    }
  }
  return Publish(options);
}
