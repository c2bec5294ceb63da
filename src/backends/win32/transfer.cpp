#include "backends/win32/transfer.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/errors.h"
#include "backends/win32/wininet.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

constexpr DWORD kReadBlock = 256 * 1024;
// A worker blocked in WinINet gets this long to notice its closed handles before the caller
// stops waiting for it; the shared state keeps whatever it still touches alive.
constexpr auto kStopGrace = std::chrono::milliseconds(2000);

}  // namespace

struct WinInetTransfer::Shared {
  explicit Shared(const TransferLimits& limits) : buffer(limits) {}

  TransferBuffer buffer;
  RequestTarget target;
  std::wstring verb;
  std::wstring headers;  // extra request headers, each line ended by CR LF
  CallTimeouts timeouts;
  RequestHandles handles;
};

namespace {

void Work(std::shared_ptr<WinInetTransfer::Shared> s) {
  TransferBuffer& buffer = s->buffer;
  const auto end = [&] {
    buffer.Finish();
    buffer.WorkerGone();
  };
  // Each send and receive waits at most the stall limit; the caller's side keeps that limit too,
  // and closes the handles.
  HINTERNET request = nullptr;
  const wchar_t* headers = s->headers.empty() ? nullptr : s->headers.c_str();
  if (SendFollowingRedirects(s->handles, {s->target, s->verb, headers, {}, s->timeouts}, request) !=
      0) {
    return end();
  }
  // The headers are read from the request handle when asked for; this marks their arrival.
  DWORD status = 0, size = sizeof status;
  HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  buffer.SetHeaders(static_cast<int>(status), {});

  std::unique_ptr<char[]> block(new char[kReadBlock]);
  // Only what has arrived is read. A read asking for more waits until it is filled and holds
  // back meanwhile what it has: a stream that slows from fast to a trickle would then hand on
  // nothing for minutes, and be taken for a stall. Asking what has arrived waits only until some
  // of the body is there.
  for (;;) {
    while (buffer.Full()) {
      if (buffer.WaitForRoom(std::chrono::milliseconds(100)) == TransferBuffer::Room::Cancelled) {
        return end();
      }
    }
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

}  // namespace

WinInetTransfer::~WinInetTransfer() { Stop(); }

void WinInetTransfer::Stop() {
  if (!shared_) return;
  shared_->buffer.Cancel();
  shared_->buffer.WaitWorkerGone(kStopGrace);
  shared_->handles.Close();
  shared_.reset();
}

void WinInetTransfer::Execute(const std::string& url, const std::string& operation,
                              const std::vector<std::string>& headers) {
  const std::wstring verb = Verb(operation);
  if (verb != L"GET" && verb != L"HEAD") {
    throw RuntimeError(kErrInvalidCall);
  }
  RequestTarget target;
  DWORD crackError = 0;
  switch (CrackUrl(url, true, target, crackError)) {
    case UrlFault::kNone:
      break;
    case UrlFault::kScheme:
      throw RuntimeError(HResultFromWin32(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
                         "The URL scheme could not be recognized");
    case UrlFault::kUnreadable:
    case UrlFault::kNoHost:
      throw RuntimeError(HResultFromWin32(ERROR_INTERNET_INVALID_URL), "The URL is invalid");
  }
  Stop();
  auto s = std::make_shared<Shared>(limits_);
  s->verb = verb;
  s->target = std::move(target);
  for (const std::string& line : headers) s->headers += Utf8ToWide(line) + L"\r\n";
  s->timeouts = {static_cast<DWORD>(limits_.connect.count()),
                 static_cast<DWORD>(limits_.stall.count())};
  Shared* raw = s.get();
  s->buffer.OnCancel([raw] { raw->handles.Close(); });
  s->buffer.WhileWaiting(pump_);
  shared_ = s;
  std::thread(Work, std::move(s)).detach();
}

bool WinInetTransfer::StillExecuting() { return shared_ && shared_->buffer.Pending(); }

int WinInetTransfer::StatusCode() { return shared_ ? shared_->buffer.Status() : 0; }

std::string WinInetTransfer::GetHeader(const std::string& name) {
  if (!shared_ || !shared_->buffer.HasHeaders() || shared_->buffer.Cancelled()) return "";
  return shared_->handles.WithRequest([&name](HINTERNET request) -> std::string {
    if (request == nullptr) return "";
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
  });
}

std::string WinInetTransfer::GetChunk(std::size_t size) {
  return shared_ ? shared_->buffer.Take(size) : "";
}

}  // namespace updater::win32
