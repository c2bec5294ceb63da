#pragma once
// The reference update server for a native run of the contract suite: the one that
// scripts/with-update-server started (AUTOUPDATE_TEST_SERVER, AUTOUPDATE_TEST_SERVER_DATA), or
// else one of our own on a free loopback port, with a fresh data folder, stopped at exit.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace contract {

class UpdateServer {
 public:
  UpdateServer() = default;
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;
  ~UpdateServer() { Stop(); }

  // Starts the server on first use; throws when it cannot.
  void Ensure() {
    if (!url_.empty()) return;
    const char* url = std::getenv("AUTOUPDATE_TEST_SERVER");
    const char* data = std::getenv("AUTOUPDATE_TEST_SERVER_DATA");
    if (url != nullptr && url[0] != '\0' && data != nullptr && data[0] != '\0') {
      url_ = url;
      data_ = data;
      return;
    }
    Start();
  }

  const std::string& Url() const { return url_; }
  const std::filesystem::path& Data() const { return data_; }

 private:
  void Start() {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "contract-server-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    work_ = pattern;
    data_ = work_ / "data";
    fs::create_directories(data_);
    const fs::path portFile = work_ / "port";
    std::vector<std::string> args = {
        UPDATE_SERVER_PATH, "--root", data_.string(),
        "--port",           "0",      "--port-file",
        portFile.string(),  "--log",  (data_ / "requests.log").string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (work_ / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    const auto started = std::chrono::steady_clock::now();
    while (!fs::exists(portFile)) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) != 0) {
        pid_ = -1;
        throw std::runtime_error("the update server ended at start");
      }
      if (std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
        throw std::runtime_error("the update server wrote no port");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int port = 0;
    std::ifstream(portFile) >> port;
    url_ = "http://127.0.0.1:" + std::to_string(port);
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 300 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (i == 299) {
          ::kill(pid_, SIGKILL);
          ::waitpid(pid_, &status, 0);
        }
      }
      pid_ = -1;
    }
    if (!work_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(work_, ignored);
    }
  }

  pid_t pid_ = -1;
  std::filesystem::path work_;
  std::filesystem::path data_;
  std::string url_;
};

}  // namespace contract
