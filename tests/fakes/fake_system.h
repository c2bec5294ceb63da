#pragma once
// Fakes of the system ports: INI strings, system information, files, the shell file operation
// and processes. They record what the core asks and answer from scripted state.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ports/errors.h"
#include "ports/platform.h"

namespace fakes {

using namespace updater::ports;

struct ProfileCall {
  std::string section, key, value, file;
  std::size_t bufferSize = 0;
};

class FakeProfile : public ProfileStrings {
 public:
  std::map<std::string, std::string> values;  // "section/key" -> value as the service gives it
  std::vector<ProfileCall> reads, writes;

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue, std::size_t bufferSize,
                        const std::string& file) override {
    reads.push_back({section, key, defaultValue, file, bufferSize});
    auto it = values.find(section + "/" + key);
    return it == values.end() ? defaultValue : it->second.substr(0, bufferSize - 1);
  }
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override {
    writes.push_back({section, key, value, file, 0});
    values[section + "/" + key] = value;
    return writeResult;
  }
  bool writeResult = true;
};

class FakeSystem : public SystemInfo {
 public:
  bool callSucceeds = true;
  bool wow64 = false;
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::vector<std::size_t> bufferSizes;

  bool IsWow64Process(bool& flag) override {
    if (callSucceeds) flag = wow64;
    return callSucceeds;
  }
  std::string GetSystemDirectory(std::size_t bufferSize) override {
    bufferSizes.push_back(bufferSize);
    return systemDirectory;
  }
  std::string ProgramFolder() override { return "C:\\Prog"; }
};

class FakeFiles : public Files {
 public:
  std::set<std::string> files, folders, emptyFolders;
  std::map<std::string, int> makeFolderErrors;  // path -> run-time error number
  std::vector<std::string> made;

  bool FileExists(const std::string& p) override { return files.count(p) > 0; }
  bool FolderExists(const std::string& p) override {
    return folders.count(p) > 0 || files.count(p) > 0;
  }
  bool FolderIsEmpty(const std::string& p) override { return emptyFolders.count(p) > 0; }
  void MakeFolder(const std::string& p) override {
    auto it = makeFolderErrors.find(p);
    if (it != makeFolderErrors.end()) throw updater::RuntimeError(it->second, "refused");
    made.push_back(p);
    folders.insert(p);
  }
  std::map<std::string, std::vector<std::string>> listings;  // folder -> file names
  std::vector<std::string> ListFiles(const std::string& folder) override {
    auto it = listings.find(folder);
    if (it != listings.end()) return it->second;
    if (folders.count(folder) > 0) return {};
    throw updater::RuntimeError(updater::kErrPathNotFound);
  }
  // The installation's undo journal sees an empty program folder: nothing to keep.
  Kind KindOf(const std::string& p) override {
    if (folders.count(p) > 0) return Kind::Folder;
    return files.count(p) > 0 ? Kind::File : Kind::None;
  }
  std::vector<std::string> ListFolders(const std::string& folder) override {
    if (!listings.count(folder) && !folders.count(folder)) {
      throw updater::RuntimeError(updater::kErrPathNotFound);
    }
    std::vector<std::string> names;
    for (const std::string& f : folders) {
      if (f.size() > folder.size() + 1 && f.compare(0, folder.size(), folder) == 0 &&
          f[folder.size()] == '\\' && f.find('\\', folder.size() + 1) == std::string::npos) {
        names.push_back(f.substr(folder.size() + 1));
      }
    }
    return names;
  }
  // Files only; like the real one it never replaces what is there.
  void Rename(const std::string& from, const std::string& to) override {
    if (KindOf(to) != Kind::None) throw updater::RuntimeError(updater::kErrPathFileAccess);
    if (!files.erase(from)) throw updater::RuntimeError(updater::kErrPathNotFound);
    files.insert(to);
  }
  std::map<std::string, std::string> written;  // WriteWhole: path -> bytes
  void ClearAttributes(const std::string&) override {}
  void Remove(const std::string& p) override {
    files.erase(p);
    folders.erase(p);
  }
  void WriteWhole(const std::string& p, const std::string& bytes) override {
    written[p] = bytes;
    files.insert(p);
  }
  bool FitsAnsiCodePage(const std::string&) override { return true; }
  std::vector<std::string> ListOthers(const std::string&) override { return {}; }
};

class FakeShell : public Shell {
 public:
  std::vector<ShellFileOperation> requests;
  std::int32_t result = 0;
  std::map<std::string, std::int32_t> resultsByTarget;  // pTo -> result, for chosen targets
  std::int32_t SHFileOperation(ShellFileOperation& r) override {
    requests.push_back(r);
    if (r.pTo) {
      auto it = resultsByTarget.find(*r.pTo);
      if (it != resultsByTarget.end()) return it->second;
    }
    return result;
  }
};

class FakeProcessHandle : public ProcessHandle {
 public:
  FakeProcessHandle(std::vector<std::uint32_t>* waits, std::optional<std::uint32_t> code)
      : waits_(waits), code_(code) {}
  std::uint32_t Wait(std::uint32_t ms) override {
    waits_->push_back(ms);
    return WAIT_OBJECT_0;
  }
  std::optional<std::uint32_t> ExitCode() override { return code_; }

 private:
  std::vector<std::uint32_t>* waits_;
  std::optional<std::uint32_t> code_;
};

class FakeProcesses : public Processes {
 public:
  struct Started {
    std::string commandLine;
    ShowState show;
  };
  std::vector<Started> started;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> opened;  // access, pid
  std::vector<std::uint32_t> waits;
  bool canStart = true, canOpen = true;
  std::optional<std::uint32_t> exitCode = 0;

  std::uint32_t Start(const std::string& commandLine, ShowState show) override {
    if (!canStart) throw updater::RuntimeError(updater::kErrFileNotFound);
    started.push_back({commandLine, show});
    return 4000 + static_cast<std::uint32_t>(started.size());
  }
  std::unique_ptr<ProcessHandle> OpenProcess(std::uint32_t access, std::uint32_t pid) override {
    opened.emplace_back(access, pid);
    if (!canOpen) return nullptr;
    return std::make_unique<FakeProcessHandle>(&waits, exitCode);
  }
};

}  // namespace fakes
