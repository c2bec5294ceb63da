#include "backends/win32/transfer.h"

// clang-format off
#include "backends/win32/windows_api.h"
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <thread>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/errors.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

constexpr DWORD kReadBlock = 64 * 1024;
// A worker blocked in WinINet gets this long to notice its closed handles before the caller
// stops waiting for it; the shared state keeps whatever it still touches alive.
constexpr auto kStopGrace = std::chrono::milliseconds(2000);

}  // namespace

struct WinInetTransfer::Shared {
  explicit Shared(const TransferLimits& limits) : buffer(limits) {}

  TransferBuffer buffer;
  std::wstring verb, host, object;
  INTERNET_PORT port = 80;
  bool secure = false;
  DWORD connectMs = 0, stallMs = 0;

  std::mutex handlesMutex;
  bool closed = false;
  HINTERNET handles[3] = {};  // session, connection, request

  // Keeps a new handle for closing; closes it at once when the transfer was stopped meanwhile.
  bool Adopt(int slot, HINTERNET handle) {
    std::lock_guard<std::mutex> lock(handlesMutex);
    if (closed) {
      InternetCloseHandle(handle);
      return false;
    }
    handles[slot] = handle;
    return true;
  }
  void CloseHandles() {
    std::lock_guard<std::mutex> lock(handlesMutex);
    closed = true;
    for (int i = 2; i >= 0; --i) {
      if (handles[i] != nullptr) InternetCloseHandle(handles[i]);
      handles[i] = nullptr;
    }
  }
};

namespace {

void Work(std::shared_ptr<WinInetTransfer::Shared> s) {
  TransferBuffer& buffer = s->buffer;
  const auto end = [&] {
    buffer.Finish();
    buffer.WorkerGone();
  };
  HINTERNET session =
      InternetOpenW(L"autoupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr || !s->Adopt(0, session)) return end();
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &s->connectMs, sizeof(DWORD));
  // The stall limit is kept by the caller's side too, which closes the handles.
  InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &s->stallMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &s->stallMs, sizeof(DWORD));
  DWORD oneTry = 1;
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_RETRIES, &oneTry, sizeof(DWORD));

  HINTERNET connection = InternetConnectW(session, s->host.c_str(), s->port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr || !s->Adopt(1, connection)) return end();

  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_PRAGMA_NOCACHE;
  if (s->secure) flags |= INTERNET_FLAG_SECURE;
  HINTERNET request = HttpOpenRequestW(connection, s->verb.c_str(), s->object.c_str(), nullptr,
                                       nullptr, nullptr, flags, 0);
  if (request == nullptr || !s->Adopt(2, request)) return end();
  if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return end();
  // The headers are read from the request handle when asked for; this marks their arrival.
  buffer.SetHeaders({});

  std::unique_ptr<char[]> block(new char[kReadBlock]);
  for (;;) {
    while (buffer.Full()) {
      if (buffer.WaitForRoom(std::chrono::milliseconds(100)) == TransferBuffer::Room::Cancelled) {
        return end();
      }
    }
    // InternetReadFile waits until the whole block is filled: ask first what has arrived, so
    // that bytes already received are handed on even when the rest is slow to come.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0) break;
    DWORD n = 0;
    if (!InternetReadFile(request, block.get(), std::min(available, kReadBlock), &n) || n == 0) {
      break;
    }
    buffer.Push(block.get(), n);
  }
  // The handles stay open for the header queries; the owner closes them.
  end();
}

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return text;
}

}  // namespace

WinInetTransfer::~WinInetTransfer() { Stop(); }

void WinInetTransfer::Stop() {
  if (!shared_) return;
  shared_->buffer.Cancel();
  shared_->buffer.WaitWorkerGone(kStopGrace);
  shared_->CloseHandles();
  shared_.reset();
}

void WinInetTransfer::Execute(const std::string& url, const std::string& operation) {
  const std::wstring verb = Upper(Utf8ToWide(operation));
  if (verb != L"GET" && verb != L"HEAD") {
    throw RuntimeError(kErrInvalidCall);
  }
  const std::wstring wide = Utf8ToWide(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // ask for pointers into wide
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) {
    throw RuntimeError(HResultFromWin32(ERROR_INTERNET_INVALID_URL), "The URL is invalid");
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    throw RuntimeError(HResultFromWin32(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
                       "The URL scheme could not be recognized");
  }
  if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) {
    throw RuntimeError(HResultFromWin32(ERROR_INTERNET_INVALID_URL), "The URL is invalid");
  }
  Stop();
  auto s = std::make_shared<Shared>(limits_);
  s->verb = verb;
  s->host.assign(parts.lpszHostName, parts.dwHostNameLength);
  s->port = parts.nPort;
  s->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (parts.lpszUrlPath != nullptr) s->object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) {
    s->object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (s->object.empty()) s->object = L"/";
  s->connectMs = static_cast<DWORD>(limits_.connect.count());
  s->stallMs = static_cast<DWORD>(limits_.stall.count());
  Shared* raw = s.get();
  s->buffer.OnCancel([raw] { raw->CloseHandles(); });
  s->buffer.WhileWaiting(pump_);
  shared_ = s;
  std::thread(Work, std::move(s)).detach();
}

bool WinInetTransfer::StillExecuting() { return shared_ && shared_->buffer.Pending(); }

std::string WinInetTransfer::GetHeader(const std::string& name) {
  if (!shared_ || !shared_->buffer.HasHeaders() || shared_->buffer.Cancelled()) return "";
  std::lock_guard<std::mutex> lock(shared_->handlesMutex);
  HINTERNET request = shared_->handles[2];
  if (shared_->closed || request == nullptr) return "";
  const std::wstring wideName = Utf8ToWide(name);
  // HTTP_QUERY_CUSTOM takes the header's name in the buffer that receives its value.
  std::vector<wchar_t> value(std::max<std::size_t>(wideName.size() + 1, 256));
  for (;;) {
    std::copy(wideName.begin(), wideName.end(), value.begin());
    value[wideName.size()] = L'\0';
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, value.data(), &bytes, nullptr)) {
      return WideToUtf8(std::wstring(value.data(), bytes / sizeof(wchar_t)));
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";  // ERROR_HTTP_HEADER_NOT_FOUND
    value.resize(std::max<std::size_t>(bytes / sizeof(wchar_t) + 1, wideName.size() + 1));
  }
}

std::string WinInetTransfer::GetChunk(std::size_t size) {
  return shared_ ? shared_->buffer.Take(size) : "";
}

}  // namespace updater::win32
