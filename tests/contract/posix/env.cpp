// The contract suite's view of the posix backend. Every scratch folder lies under a temporary
// root whose name holds a blank and Chinese characters, so each test also runs on such paths;
// the root is the program folder, so arguments naming scratch paths are mapped like the core's.

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "backends/posix/file_io.h"
#include "backends/posix/net.h"
#include "backends/posix/platform.h"
#include "backends/posix/support_log.h"
#include "contract/env.h"
#include "contract/posix/test_database.h"
#include "contract/posix/update_server.h"

namespace contract {

namespace {

namespace fs = std::filesystem;

std::string MakeRoot() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                        "/autoupdate contract 中文-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

class PosixEnv : public Env {
 public:
  PosixEnv() : root_(MakeRoot()), platform_(root_) {
    // Trash tests must never touch the real home.
    const std::string data = root_ + "/xdg-data";
    fs::create_directories(data);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  }
  ~PosixEnv() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  updater::Platform& platform() override { return platform_.platform(); }
  fs::path Host(const std::string& corePath) override { return platform_.HostPath(corePath); }

  std::string NewScratchFolder() override {
    const std::string folder = root_ + "/case-" + std::to_string(++counter_);
    fs::create_directories(folder);
    return folder;
  }

  std::string ChildProgram() override {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / CONTRACT_CHILD_NAME).string();
  }

  bool IsWindows() const override { return false; }

  std::string CreateTestDatabase(const std::string& folder) override {
    return CreateSqliteFile(Host(folder + "\\project.mdb"));
  }

  std::string ServerUrl() override {
    server_.Ensure();
    return server_.Url();
  }
  fs::path ServerData() override {
    server_.Ensure();
    return server_.Data();
  }
  std::unique_ptr<updater::ports::Net> NewNet(std::chrono::milliseconds connect,
                                              std::chrono::milliseconds total) override {
    return std::make_unique<updater::posix::PosixNet>(updater::HttpLimits{connect, total});
  }
  std::unique_ptr<updater::ports::FileIO> NewFileIO(std::chrono::milliseconds stall) override {
    updater::TransferLimits limits;
    limits.stall = stall;
    return std::make_unique<updater::posix::PosixFileIO>(mapper_, limits);
  }

  std::string SecureServerUrl() override {
    server_.EnsureTls();
    return server_.TlsUrl();
  }
  // The authority's certificate is handed to these ports alone.
  std::unique_ptr<updater::ports::Net> NewTrustingNet() override {
    server_.EnsureTls();
    return std::make_unique<updater::posix::PosixNet>(updater::HttpLimits{},
                                                      server_.CaFile().string());
  }
  std::unique_ptr<updater::ports::FileIO> NewTrustingFileIO() override {
    server_.EnsureTls();
    return std::make_unique<updater::posix::PosixFileIO>(mapper_, updater::TransferLimits{},
                                                         server_.CaFile().string());
  }
  std::unique_ptr<updater::ports::SupportLog> NewSupportLog(const std::string& programFolder,
                                                            const std::string& folder) override {
    return std::make_unique<updater::posix::PosixSupportLog>(Host(programFolder).string(),
                                                             Host(folder));
  }

 private:
  std::string root_;
  updater::posix::PosixPlatform platform_;
  updater::posix::PathMapper mapper_{root_};
  std::atomic<int> counter_{0};
  UpdateServer server_;
};

}  // namespace

Env& TheEnv() {
  static PosixEnv env;
  return env;
}

}  // namespace contract
