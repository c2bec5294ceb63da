#include "backends/posix/processes.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "backends/posix/emulation/command_line.h"
#include "ports/errors.h"
#include "util/text.h"

extern char** environ;

namespace updater::posix {

namespace fs = std::filesystem;

namespace {
constexpr const char* kSystemFolder = "C:\\Windows\\System32";

bool IsRunnableFile(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

class PosixProcessHandle : public ports::ProcessHandle {
 public:
  explicit PosixProcessHandle(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}

  std::uint32_t Wait(std::uint32_t milliseconds) override {
    std::unique_lock lock(state_->mutex);
    const auto ended = [this] { return state_->status.has_value(); };
    if (milliseconds == ports::INFINITE) {
      state_->ended.wait(lock, ended);
      return ports::WAIT_OBJECT_0;
    }
    return state_->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)
               ? ports::WAIT_OBJECT_0
               : ports::WAIT_TIMEOUT;
  }

  std::optional<std::uint32_t> ExitCode() override {
    std::lock_guard lock(state_->mutex);
    if (!state_->status) return std::nullopt;
    const int status = *state_->status;
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return std::nullopt;
  }

 private:
  std::shared_ptr<ChildState> state_;
};

// Waits for one child in the background and records how it ended. The thread is detached: it
// holds only the shared state, and the process may end while it waits without harming the child.
void StartReaper(pid_t pid, const std::shared_ptr<ChildState>& state) {
  std::thread([pid, state] {
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    std::lock_guard lock(state->mutex);
    state->status = r == pid ? status : (128 << 8);
    state->ended.notify_all();
  }).detach();
}
}  // namespace

std::string PosixProcesses::ResolveProgram(const std::string& name) const {
  if (name.empty()) return {};
  const auto tryPath = [](const fs::path& p) -> std::string {
    if (IsRunnableFile(p)) return p.string();
    fs::path exe = p;
    exe += ".exe";
    return IsRunnableFile(exe) ? exe.string() : std::string();
  };
  const bool isPath = name.find_first_of("\\/") != std::string::npos || HasDriveLetter(name);
  if (isPath) {
    std::string found = tryPath(mapper_.Map(name));
    // "name.exe" may exist in another case than the one written.
    if (found.empty()) found = tryPath(mapper_.Map(name + ".exe"));
    return found;
  }
  for (const std::string& folder : {programFolder_, std::string(kSystemFolder)}) {
    for (const std::string& candidate : {name, name + ".exe"}) {
      if (auto found = tryPath(mapper_.Map(folder + "\\" + candidate)); !found.empty()) {
        return found;
      }
    }
  }
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (auto found = tryPath(fs::path(dir.empty() ? "." : dir) / name); !found.empty())
      return found;
  }
  return {};
}

std::string PosixProcesses::MapArgument(const std::string& argument) const {
  const bool onDriveC = argument.size() >= 2 && HasDriveLetter(argument) &&
                        (argument[0] == 'C' || argument[0] == 'c') &&
                        (argument.size() == 2 || argument[2] == '\\' || argument[2] == '/');
  const bool inProgramFolder =
      !programFolder_.empty() && argument.starts_with(programFolder_) &&
      (argument.size() == programFolder_.size() || argument[programFolder_.size()] == '\\' ||
       argument[programFolder_.size()] == '/');
  if (!onDriveC && !inProgramFolder) return argument;
  std::string mapped = mapper_.Map(argument).string();
  // A trailing separator means "this folder" to the program receiving it: keep it.
  if ((argument.back() == '\\' || argument.back() == '/') && mapped.back() != '/') mapped += '/';
  return mapped;
}

std::uint32_t PosixProcesses::Start(const std::string& commandLine, ports::ShowState) {
  // Leading blanks are skipped before the program name, as process creation does.
  const std::size_t first = commandLine.find_first_not_of(" \t");
  const std::vector<std::string> words =
      SplitCommandLine(first == std::string::npos ? "" : commandLine.substr(first));
  const std::string program = ResolveProgram(words.front());
  if (program.empty()) throw RuntimeError(kErrFileNotFound);

  std::vector<std::string> args;
  args.push_back(program);
  for (std::size_t i = 1; i < words.size(); ++i) args.push_back(MapArgument(words[i]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    throw RuntimeError(kErrFileNotFound);
  }
  auto state = std::make_shared<ChildState>();
  {
    std::lock_guard lock(mutex_);
    children_[pid] = state;
  }
  StartReaper(pid, state);
  return static_cast<std::uint32_t>(pid);
}

std::unique_ptr<ports::ProcessHandle> PosixProcesses::OpenProcess(std::uint32_t,
                                                                  std::uint32_t pid) {
  std::lock_guard lock(mutex_);
  const auto it = children_.find(static_cast<pid_t>(pid));
  if (it == children_.end()) return nullptr;
  return std::make_unique<PosixProcessHandle>(it->second);
}

}  // namespace updater::posix
