// The update server: the pages of the exam-practice server that the updater talks to, plus the
// fault modes that tests switch on through the data folder.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "bodies.h"
#include "faults.h"

namespace update_server {

class UpdateServer {
 public:
  // `log` may be null; otherwise one line is appended per request. With a certificate and its
  // key (PEM files) the server speaks https only; Valid() then tells whether they loaded.
  UpdateServer(std::filesystem::path root, std::FILE* log, const std::string& tls_cert = "",
               const std::string& tls_key = "");

  bool Valid() const { return http_->is_valid(); }

  // The port bound, or -1. Port 0 picks a free one.
  int Bind(const std::string& host, int port);

  // Serves until Stop(). Returns false when the server could not run.
  bool Run();

  // Safe from any thread and at any time, also before Run() has started; idempotent.
  void Stop();

  // Tells Stop() that Run() will not be called, so that it does not wait for it.
  void Abandon() { run_over_ = true; }

 private:
  struct Reply {
    int status = 200;
    std::string content_type;
    std::shared_ptr<Body> body;
  };
  enum class Transfer { kLength, kChunked };
  // After `fast` bytes at full speed, `piece` bytes every `ms` milliseconds.
  struct Trickle {
    std::uint64_t fast;
    std::uint64_t piece;  // 0: no trickle
    std::uint64_t ms;
  };

  void Handle(const httplib::Request& request, httplib::Response& response);
  void Log(const httplib::Request& request);
  void Deliver(httplib::Response& response, const Reply& reply,
               Transfer transfer = Transfer::kLength, std::uint64_t cut_at = UINT64_MAX,
               std::uint64_t stall_ms = 0, Trickle trickle = {0, 0, 0});
  // The file, or the one range of it the request asks for (206, or 416 beyond its end).
  static Reply RangeReply(const httplib::Request& request, httplib::Response& response,
                          const Validators& validators, std::shared_ptr<Body> file);
  // True only the first time this rule of this fault file applies.
  bool FirstTime(const Fault& fault);
  void Hang(const httplib::Request& request, httplib::Response& response);
  // Sleeps, but wakes at once when the server stops; false then.
  bool SleepUnlessStopping(std::uint64_t ms);

  static Reply HtmlPage(int status, const std::string& path);

  std::filesystem::path root_;
  std::FILE* log_;
  std::mutex log_mutex_;
  std::unique_ptr<httplib::Server> http_;

  std::mutex once_mutex_;
  std::set<std::string> once_;

  std::mutex stop_mutex_;
  std::condition_variable stop_wake_;
  bool stopping_ = false;
  std::atomic<bool> run_over_{false};
  std::atomic<bool> stop_sent_{false};
};

// The socket of the connection that carries request, or -1. The library does not hand it to
// handlers; a hanging answer needs it to notice that its client has gone.
int ConnectionSocket(const httplib::Request& request);

}  // namespace update_server
