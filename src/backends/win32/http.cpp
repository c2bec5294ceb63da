#include "backends/win32/http.h"

// clang-format off
#include "backends/win32/windows_api.h"
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "backends/win32/ansi.h"
#include "backends/win32/errors.h"
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
struct Transfer {
  // In.
  std::wstring method, host, object;
  INTERNET_PORT port = 80;
  std::string payload;
  DWORD connectMs = 0, totalMs = 0;
  // Out, under the mutex.
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool cancelled = false;
  DWORD error = 0;
  std::string body;
  HINTERNET handles[3] = {};  // session, connection, request: open while the worker uses them

  // Keeps a new handle for closing, unless the caller has given up meanwhile.
  bool Adopt(int slot, HINTERNET handle) {
    std::lock_guard<std::mutex> lock(mutex);
    if (cancelled) {
      InternetCloseHandle(handle);
      return false;
    }
    handles[slot] = handle;
    return true;
  }
  void CloseAll() {  // with the mutex held
    for (int i = 2; i >= 0; --i) {
      if (handles[i] != nullptr) InternetCloseHandle(handles[i]);
      handles[i] = nullptr;
    }
  }
  void Finish(DWORD code, std::string received) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!cancelled) {
      error = code;
      body = std::move(received);
      CloseAll();
    }
    done = true;
    finished.notify_all();
  }
};

void Run(const std::shared_ptr<Transfer>& t) {
  std::string received;
  HINTERNET session =
      InternetOpenW(L"autoupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return t->Finish(GetLastError(), {});
  if (!t->Adopt(0, session)) return t->Finish(ERROR_INTERNET_TIMEOUT, {});
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &t->connectMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &t->totalMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &t->totalMs, sizeof(DWORD));
  DWORD oneTry = 1;
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_RETRIES, &oneTry, sizeof(DWORD));

  HINTERNET connection = InternetConnectW(session, t->host.c_str(), t->port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr) return t->Finish(GetLastError(), {});
  if (!t->Adopt(1, connection)) return t->Finish(ERROR_INTERNET_TIMEOUT, {});

  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_PRAGMA_NOCACHE;
  HINTERNET request = HttpOpenRequestW(connection, t->method.c_str(), t->object.c_str(), nullptr,
                                       nullptr, nullptr, flags, 0);
  if (request == nullptr) return t->Finish(GetLastError(), {});
  if (!t->Adopt(2, request)) return t->Finish(ERROR_INTERNET_TIMEOUT, {});

  static const wchar_t kHeaders[] = L"Content-Type: text/xml\r\n";
  if (!HttpSendRequestW(request, kHeaders, static_cast<DWORD>(-1),
                        t->payload.empty() ? nullptr : t->payload.data(),
                        static_cast<DWORD>(t->payload.size()))) {
    return t->Finish(GetLastError(), {});
  }
  // WinINet reports a connection closed before the announced length as a normal end.
  DWORD announced = 0, size = sizeof announced;
  const bool hasLength = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                        &announced, &size, nullptr) != FALSE;
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

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return text;
}

}  // namespace

void WinInetHttpRequest::Open(const std::string& method, const std::string& url, bool /*async*/) {
  // Every exchange of the updater is synchronous, so the flag changes nothing.
  opened_ = false;
  body_.clear();
  const std::wstring wide = Utf8ToWide(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // ask for pointers into wide
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) {
    Fail(GetLastError());
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP) Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) {
    Fail(ERROR_INTERNET_INVALID_URL);
  }
  host_.assign(parts.lpszHostName, parts.dwHostNameLength);
  port_ = parts.nPort;
  object_.clear();
  if (parts.lpszUrlPath != nullptr) object_.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) object_.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object_.empty()) object_ = L"/";
  method_ = Upper(Utf8ToWide(method));
  opened_ = true;
}

void WinInetHttpRequest::Send(const std::string& body) {
  if (!opened_) Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  body_.clear();
  auto t = std::make_shared<Transfer>();
  t->method = method_;
  t->host = host_;
  t->object = object_;
  t->port = port_;
  t->payload = body;
  t->connectMs = static_cast<DWORD>(limits_.connect.count());
  t->totalMs = static_cast<DWORD>(limits_.total.count());
  const auto deadline = std::chrono::steady_clock::now() + limits_.total;

  // WinINet's own time-outs apply to each call, not to the exchange, and name resolution has
  // none: the request runs on a worker, and at the deadline its handles are closed.
  std::thread(Run, t).detach();
  std::unique_lock<std::mutex> lock(t->mutex);
  if (!t->finished.wait_until(lock, deadline, [&] { return t->done; })) {
    t->cancelled = true;
    t->CloseAll();
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
