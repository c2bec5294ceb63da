#pragma once
// WinINet as the backend's two HTTP users (the server exchange and the package download) use it:
// a URL taken apart, one session with the same options, and handles that are closed however the
// request ends.

// clang-format off
#include "backends/win32/windows_api.h"
#include <wininet.h>
// clang-format on

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace updater::win32 {

// Owns one WinINet handle and closes it when it goes.
class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(InternetHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  InternetHandle& operator=(InternetHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET get() const { return handle_; }
  void Reset() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HINTERNET handle_ = nullptr;
};

// Where a request goes, as InternetConnect and HttpOpenRequest take it.
struct RequestTarget {
  std::wstring url;  // the whole URL, against which a relative redirect is resolved
  std::wstring host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::wstring object;  // path and query, as they stand in the URL; "/" when empty
  bool secure = false;
};

enum class UrlFault { kNone, kUnreadable, kScheme, kNoHost };

// Takes url apart. Only http is accepted, and https too when allowHttps. For kUnreadable,
// crackError holds the reason WinINet gave.
UrlFault CrackUrl(const std::string& url, bool allowHttps, RequestTarget& target,
                  DWORD& crackError);

// The method as WinINet sends it: upper case.
std::wstring Verb(const std::string& method);

// Every request is fetched from the server itself: no cache, no cookies, no dialogs. Redirects
// are followed by SendFollowingRedirects, which bounds them. A certificate that does not verify
// always fails the request: no flag that ignores one is ever set.
inline constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
    INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// At most this many redirects are followed, as the posix build's libcurl is told too.
inline constexpr int kMaxRedirects = 5;

// WinINet's own time-outs, which bound each call: connecting (with a single attempt), and each
// send and receive.
struct CallTimeouts {
  DWORD connectMs = 0;
  DWORD sendReceiveMs = 0;
};

// An asynchronous session: WinINet reports each completion to callback with context, and await
// waits for the completion of a call that answered ERROR_IO_PENDING (0, else its error).
struct AsyncMode {
  INTERNET_STATUS_CALLBACK callback = nullptr;
  DWORD_PTR context = 0;
  std::function<DWORD()> await;
};

// The session, connection and request handles of one request. The thread that opens them and
// the thread that gives up on the request differ: closing the handles is the only way to end a
// call blocked in WinINet, so Close may come at any time, and a handle opened after it is closed
// at once.
class RequestHandles {
 public:
  // Opens the three handles and gives the request's; 0, else the error (ERROR_INTERNET_TIMEOUT
  // when Close came first).
  DWORD Open(const RequestTarget& target, const wchar_t* verb, DWORD flags,
             const CallTimeouts& timeouts, HINTERNET& request, const AsyncMode* async = nullptr);
  // Closes every handle open so far, the request first; later ones are refused.
  void Close();
  // Closes the handles open so far, the request first, so that Open may start afresh.
  void Drop();
  // Runs use with the request handle (nullptr once closed, or before it is open); Close waits
  // meanwhile.
  template <typename Use>
  auto WithRequest(Use use) {
    std::lock_guard<std::mutex> lock(mutex_);
    return use(closed_ ? nullptr : handles_[kRequest].get());
  }

 private:
  enum Slot { kSession, kConnection, kRequest };
  // Keeps handle in slot; closes it and answers false when Close came first.
  bool Adopt(Slot slot, HINTERNET handle);

  std::mutex mutex_;
  bool closed_ = false;
  std::array<InternetHandle, 3> handles_;
};

// One request as it is sent, and sent again to where a redirect leads.
struct Outgoing {
  RequestTarget target;
  std::wstring verb;
  const wchar_t* headers = nullptr;  // extra request headers, or nullptr
  std::string payload;
  CallTimeouts timeouts;
  const AsyncMode* async = nullptr;
};

// Opens and sends the request; while the answer is a redirect (a 3xx but 304, with a Location),
// sends it again there: at most kMaxRedirects times (then ERROR_HTTP_REDIRECT_FAILED), to http
// or https only (else ERROR_INTERNET_UNRECOGNIZED_SCHEME), never from https to http (else
// ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR). 301, 302 and 303 turn a method other
// than GET and HEAD into a GET without a body; 307 and 308 repeat it. 0 and the final answer's
// request handle, else the error.
DWORD SendFollowingRedirects(RequestHandles& handles, Outgoing out, HINTERNET& request);

}  // namespace updater::win32
