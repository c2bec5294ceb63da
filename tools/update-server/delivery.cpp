// How an answer's body goes out: byte ranges of the package, and the faults that cut a body
// short, slow it down or hang without answering.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <system_error>
#include <utility>
#include <vector>

#include "server.h"

namespace update_server {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

}  // namespace

// Finds the socket of the connection that carries `request`, by its two end points. The library
// does not hand it to handlers, and only with it can a hanging answer notice that its client
// has gone, and end without a word when the server stops.
int ConnectionSocket(const httplib::Request& request) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_storage local{}, peer{};
    socklen_t local_size = sizeof local, peer_size = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
      continue;
    }
    auto port_and_address = [](const sockaddr_storage& address) -> std::pair<int, std::string> {
      char text[INET6_ADDRSTRLEN] = {};
      if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        return {ntohs(in.sin_port), text};
      }
      if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        return {ntohs(in6.sin6_port), text};
      }
      return {-1, ""};
    };
    auto [local_port, local_address] = port_and_address(local);
    auto [peer_port, peer_address] = port_and_address(peer);
    if (local_port == request.local_port && peer_port == request.remote_port &&
        peer_address == request.remote_addr) {
      return fd;
    }
  }
  return -1;
}

UpdateServer::Reply UpdateServer::RangeReply(const httplib::Request& request,
                                             httplib::Response& response,
                                             const Validators& validators,
                                             std::shared_ptr<Body> file) {
  Reply whole{200, "application/octet-stream", file};
  // "bytes=FIRST-" or "bytes=FIRST-LAST", or several of them joined by commas (as zsync asks);
  // anything else is answered with the whole.
  const std::string range = request.get_header_value("Range");
  const std::string unit = "bytes=";
  if (range.rfind(unit, 0) != 0) return whole;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;
  for (std::size_t at = unit.size(); at <= range.size();) {
    std::size_t end = range.find(',', at);
    if (end == std::string::npos) end = range.size();
    const std::string part = range.substr(at, end - at);
    const std::size_t dash = part.find('-');
    std::uint64_t first = 0, last = UINT64_MAX;
    if (dash == std::string::npos || dash == 0 ||
        std::from_chars(part.data(), part.data() + dash, first).ptr != part.data() + dash) {
      return whole;
    }
    if (dash + 1 < part.size() &&
        std::from_chars(part.data() + dash + 1, part.data() + part.size(), last).ptr !=
            part.data() + part.size()) {
      return whole;
    }
    asked.emplace_back(first, last);
    at = end + 1;
  }
  // If-Range: the range only while the file is the one the client names; else the whole.
  if (request.has_header("If-Range")) {
    const std::string named = request.get_header_value("If-Range");
    if (named != validators.etag && named != validators.last_modified) return whole;
  }
  const std::uint64_t size = file->Size();
  for (auto& [first, last] : asked) {
    if (first >= size || last < first) {
      response.set_header("Content-Range", "bytes */" + std::to_string(size));
      return {416, "text/plain; charset=utf-8", TextBody("")};
    }
    last = std::min(last, size - 1);
  }
  const auto content_range = [&](std::uint64_t first, std::uint64_t last) {
    return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
           std::to_string(size);
  };
  if (asked.size() == 1) {
    const auto [first, last] = asked[0];
    response.set_header("Content-Range", content_range(first, last));
    return {206, "application/octet-stream", SliceBody(file, first, last - first + 1)};
  }
  // Several ranges: one multipart/byteranges body, built in memory (bounded).
  const std::string boundary = "update-server-byteranges";
  std::string body;
  for (const auto& [first, last] : asked) {
    if (body.size() + (last - first + 1) > (64u << 20)) return whole;
    body += "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\n" +
            "Content-Range: " + content_range(first, last) + "\r\n\r\n";
    const std::size_t at = body.size();
    body.resize(at + (last - first + 1));
    for (std::uint64_t done = 0; done < last - first + 1;) {
      const std::size_t n = file->Read(first + done, body.data() + at + done,
                                       static_cast<std::size_t>(last - first + 1 - done));
      if (n == 0) return whole;
      done += n;
    }
  }
  body += "\r\n--" + boundary + "--\r\n";
  return {206, "multipart/byteranges; boundary=" + boundary, TextBody(std::move(body))};
}

bool UpdateServer::FirstTime(const Fault& fault) {
  std::error_code error;
  const auto stamp = std::filesystem::last_write_time(root_ / "fault", error);
  const std::string key = fault.rule + "\n" + std::to_string(stamp.time_since_epoch().count());
  std::lock_guard<std::mutex> lock(once_mutex_);
  return once_.insert(key).second;
}

void UpdateServer::Deliver(httplib::Response& response, const Reply& reply, Transfer transfer,
                           std::uint64_t cut_at, std::uint64_t stall_ms, Trickle trickle) {
  response.status = reply.status;
  std::shared_ptr<Body> body = reply.body;
  auto buffer = std::make_shared<std::vector<char>>(kBlock);

  if (transfer == Transfer::kChunked) {
    response.set_chunked_content_provider(
        reply.content_type, [body, buffer](std::size_t offset, httplib::DataSink& sink) {
          if (offset >= body->Size()) {
            sink.done();
            return true;
          }
          std::size_t got = body->Read(offset, buffer->data(), buffer->size());
          return got > 0 && sink.write(buffer->data(), got);
        });
    return;
  }
  if (body->Size() == 0) {
    // A provider of length 0 would drop the Content-Length header: "0" must be announced.
    response.set_content("", reply.content_type);
    return;
  }
  // The full length is announced even when the body is cut short on purpose.
  response.set_content_provider(
      body->Size(), reply.content_type,
      [this, body, buffer, cut_at, stall_ms, trickle](std::size_t offset, std::size_t length,
                                                      httplib::DataSink& sink) {
        if (offset >= cut_at) {
          if (stall_ms > 0) SleepUnlessStopping(stall_ms);
          return false;  // the library closes the connection
        }
        std::size_t n = std::min<std::uint64_t>({length, buffer->size(), cut_at - offset});
        if (trickle.piece > 0 && offset >= trickle.fast) {
          if (!SleepUnlessStopping(trickle.ms)) return false;
          n = std::min<std::uint64_t>(n, trickle.piece);
        } else if (trickle.piece > 0) {
          n = std::min<std::uint64_t>(n, trickle.fast - offset);
        }
        std::size_t got = body->Read(offset, buffer->data(), n);
        return got > 0 && sink.write(buffer->data(), got);
      });
}

void UpdateServer::Hang(const httplib::Request& request, httplib::Response& response) {
  int fd = ConnectionSocket(request);
  std::unique_lock<std::mutex> lock(stop_mutex_);
  while (!stopping_) {
    if (fd < 0) {
      stop_wake_.wait(lock);
      continue;
    }
    stop_wake_.wait_for(lock, std::chrono::milliseconds(100));
    pollfd watch{fd, POLLRDHUP, 0};
    if (::poll(&watch, 1, 0) > 0) break;  // the client has given up
  }
  lock.unlock();
  if (fd >= 0) {
    // Closed without a word; the library's later attempt to answer fails on the dead socket.
    ::shutdown(fd, SHUT_RDWR);
  } else {
    response.status = 503;
    response.set_content("", "text/plain");
  }
}

}  // namespace update_server
