#include "backends/win32/http.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "backends/win32/errors.h"
#include "backends/win32/wininet.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;
// After the deadline the handles are closed, which ends a blocked call; the worker is given this
// long to notice before the caller stops waiting for it.
constexpr auto kCancelGrace = std::chrono::milliseconds(1000);

[[noreturn]] void Fail(DWORD code) {
  throw RuntimeError(HResultFromWin32(code), WinInetErrorText(code));
}

// What the caller and the worker thread share. The worker may outlive a caller that gave up.
struct Exchange {
  // In.
  RequestTarget target;
  std::wstring method;
  std::string payload;
  CallTimeouts timeouts;
  // Open while the worker uses them.
  RequestHandles handles;
  // Out, under the mutex.
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool cancelled = false;
  DWORD error = 0;
  std::string body;

  void Finish(DWORD code, std::string received) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!cancelled) {
      error = code;
      body = std::move(received);
      handles.Close();
    }
    done = true;
    finished.notify_all();
  }
};

void Run(const std::shared_ptr<Exchange>& t) {
  static const wchar_t kHeaders[] = L"Content-Type: text/xml\r\n";
  HINTERNET request = nullptr;
  const DWORD sent = SendFollowingRedirects(
      t->handles, {t->target, t->method, kHeaders, t->payload, t->timeouts}, request);
  if (sent != 0) return t->Finish(sent, {});
  // WinINet reports a connection closed before the announced length as a normal end.
  DWORD announced = 0, size = sizeof announced;
  const bool hasLength = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                        &announced, &size, nullptr) != FALSE;
  std::string received;
  std::unique_ptr<char[]> block(new char[kReadBlock]);
  for (;;) {
    DWORD n = 0;
    if (!InternetReadFile(request, block.get(), static_cast<DWORD>(kReadBlock), &n)) {
      return t->Finish(GetLastError(), {});
    }
    if (n == 0) break;
    if (received.size() + n > kMaxResponseBody) {
      // An answer, but not one to read: the rest is left unread.
      return t->Finish(0, {});
    }
    received.append(block.get(), n);
  }
  if (hasLength && received.size() < announced)
    return t->Finish(ERROR_INTERNET_CONNECTION_ABORTED, {});
  t->Finish(0, std::move(received));
}

}  // namespace

void WinInetHttpRequest::Open(const std::string& method, const std::string& url, bool /*async*/) {
  // Every exchange of the updater is synchronous, so the flag changes nothing.
  opened_ = false;
  body_.clear();
  auto target = std::make_shared<RequestTarget>();
  DWORD crackError = 0;
  switch (CrackUrl(url, true, *target, crackError)) {
    case UrlFault::kNone:
      break;
    case UrlFault::kUnreadable:
      Fail(crackError);
    case UrlFault::kScheme:
      Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    case UrlFault::kNoHost:
      Fail(ERROR_INTERNET_INVALID_URL);
  }
  target_ = std::move(target);
  method_ = Verb(method);
  opened_ = true;
}

void WinInetHttpRequest::Send(const std::string& body) {
  if (!opened_) Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  body_.clear();
  auto t = std::make_shared<Exchange>();
  t->target = *target_;
  t->method = method_;
  t->payload = body;
  t->timeouts = {static_cast<DWORD>(limits_.connect.count()),
                 static_cast<DWORD>(limits_.total.count())};
  const auto deadline = std::chrono::steady_clock::now() + limits_.total;

  // WinINet's own time-outs apply to each call, not to the exchange, and name resolution has
  // none: the request runs on a worker, and at the deadline its handles are closed.
  std::thread(Run, t).detach();
  std::unique_lock<std::mutex> lock(t->mutex);
  if (!t->finished.wait_until(lock, deadline, [&] { return t->done; })) {
    t->cancelled = true;
    t->handles.Close();
    t->finished.wait_for(lock, kCancelGrace, [&] { return t->done; });
    lock.unlock();
    Fail(ERROR_INTERNET_TIMEOUT);
  }
  if (t->error != 0) {
    const DWORD code = t->error;
    lock.unlock();
    Fail(code);
  }
  body_ = std::move(t->body);
}

}  // namespace updater::win32
