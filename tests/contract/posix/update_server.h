#pragma once
// The reference update server for a native run of the contract suite: the one that
// scripts/with-update-server started (AUTOUPDATE_TEST_SERVER, AUTOUPDATE_TEST_SERVER_DATA), or
// else one of our own on a free loopback port, with a fresh data folder, stopped at exit. Its
// https twin serves the same data folder with a certificate from a test authority
// (AUTOUPDATE_TEST_TLS_SERVER, AUTOUPDATE_TEST_CA; else made and started here on first use).

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
  ~UpdateServer() {
    Stop(tlsPid_);
    Stop(pid_);
    if (!work_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(work_, ignored);
    }
  }

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

  // The https twin: its base address (https://localhost:PORT) and the authority's certificate;
  // empty when none can be had (no openssl, or a server from outside without a twin).
  void EnsureTls() {
    Ensure();
    if (tlsTried_) return;
    tlsTried_ = true;
    const char* url = std::getenv("AUTOUPDATE_TEST_TLS_SERVER");
    const char* ca = std::getenv("AUTOUPDATE_TEST_CA");
    if (url != nullptr && url[0] != '\0' && ca != nullptr && ca[0] != '\0') {
      tlsUrl_ = url;
      caFile_ = ca;
      return;
    }
    if (work_.empty()) return;  // the server came from outside, without a twin
    const std::filesystem::path certs = work_ / "certs";
    const std::string make =
        std::string("'") + MAKE_TEST_CERTS_PATH + "' '" + certs.string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    const int port = Spawn({"--tls-cert", (certs / "server.pem").string(), "--tls-key",
                            (certs / "server.key").string()},
                           "tls", tlsPid_);
    tlsUrl_ = "https://localhost:" + std::to_string(port);
    caFile_ = certs / "ca.pem";
  }
  const std::string& TlsUrl() const { return tlsUrl_; }
  const std::filesystem::path& CaFile() const { return caFile_; }

 private:
  void Start() {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "contract-server-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    work_ = pattern;
    data_ = work_ / "data";
    fs::create_directories(data_);
    url_ = "http://127.0.0.1:" + std::to_string(Spawn({}, "plain", pid_));
  }

  // Starts one server on the data folder; its port.
  int Spawn(const std::vector<std::string>& extra, const std::string& name, pid_t& pid) {
    namespace fs = std::filesystem;
    const fs::path portFile = work_ / (name + ".port");
    std::vector<std::string> args = {
        UPDATE_SERVER_PATH, "--root", data_.string(),
        "--port",           "0",      "--port-file",
        portFile.string(),  "--log",  (data_ / "requests.log").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (work_ / (name + ".stderr")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    const auto started = std::chrono::steady_clock::now();
    while (!fs::exists(portFile)) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) != 0) {
        pid = -1;
        throw std::runtime_error("the update server ended at start");
      }
      if (std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
        throw std::runtime_error("the update server wrote no port");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int port = 0;
    std::ifstream(portFile) >> port;
    return port;
  }

  static void Stop(pid_t& pid) {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      int status = 0;
      for (int i = 0; i < 300 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (i == 299) {
          ::kill(pid, SIGKILL);
          ::waitpid(pid, &status, 0);
        }
      }
      pid = -1;
    }
  }

  pid_t pid_ = -1;
  pid_t tlsPid_ = -1;
  bool tlsTried_ = false;
  std::string tlsUrl_;
  std::filesystem::path caFile_;
  std::filesystem::path work_;
  std::filesystem::path data_;
  std::string url_;
};

}  // namespace contract
