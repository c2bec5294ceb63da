#include "backends/win32/wininet.h"

#include <algorithm>
#include <cwctype>

#include "backends/win32/ansi.h"

namespace updater::win32 {

UrlFault CrackUrl(const std::string& url, bool allowHttps, RequestTarget& target,
                  DWORD& crackError) {
  const std::wstring wide = Utf8ToWide(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;  // ask for pointers into wide
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) {
    crackError = GetLastError();
    return UrlFault::kUnreadable;
  }
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  target.url = wide;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && !(allowHttps && secure)) return UrlFault::kScheme;
  if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) return UrlFault::kNoHost;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  target.secure = secure;
  target.object.clear();
  if (parts.lpszUrlPath != nullptr) target.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) {
    target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (target.object.empty()) target.object = L"/";
  return UrlFault::kNone;
}

std::wstring Verb(const std::string& method) {
  std::wstring verb = Utf8ToWide(method);
  std::transform(verb.begin(), verb.end(), verb.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return verb;
}

DWORD RequestHandles::Open(const RequestTarget& target, const wchar_t* verb, DWORD flags,
                           const CallTimeouts& timeouts, HINTERNET& request,
                           const AsyncMode* async) {
  HINTERNET session = InternetOpenW(L"autoupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                    async != nullptr ? INTERNET_FLAG_ASYNC : 0);
  if (session == nullptr) return GetLastError();
  if (!Adopt(kSession, session)) return ERROR_INTERNET_TIMEOUT;
  if (async != nullptr) InternetSetStatusCallbackW(session, async->callback);
  DWORD connectMs = timeouts.connectMs, ioMs = timeouts.sendReceiveMs, oneTry = 1;
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &ioMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &ioMs, sizeof(DWORD));
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_RETRIES, &oneTry, sizeof(DWORD));

  HINTERNET connection = InternetConnectW(session, target.host.c_str(), target.port, nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr) return GetLastError();
  if (!Adopt(kConnection, connection)) return ERROR_INTERNET_TIMEOUT;

  if (target.secure) flags |= INTERNET_FLAG_SECURE;
  request = HttpOpenRequestW(connection, verb, target.object.c_str(), nullptr, nullptr, nullptr,
                             flags, async != nullptr ? async->context : 0);
  if (request == nullptr) return GetLastError();
  if (!Adopt(kRequest, request)) return ERROR_INTERNET_TIMEOUT;
  return 0;
}

bool RequestHandles::Adopt(Slot slot, HINTERNET handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    InternetCloseHandle(handle);
    return false;
  }
  handles_[slot] = InternetHandle(handle);
  return true;
}

void RequestHandles::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) it->Reset();
}

void RequestHandles::Drop() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) it->Reset();
}

namespace {

// The Location of a redirect answer, resolved against the URL that was asked for; "" when the
// answer is no redirect.
std::wstring RedirectTarget(HINTERNET request, const std::wstring& asked) {
  DWORD status = 0, size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) ||
      status < 300 || status > 399 || status == 304) {
    return {};
  }
  std::wstring location(256, L'\0');
  for (;;) {
    DWORD bytes = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &bytes, nullptr)) {
      location.resize(bytes / sizeof(wchar_t));
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    location.resize(bytes / sizeof(wchar_t) + 1);
  }
  if (location.empty()) return {};
  DWORD length = 0;
  InternetCombineUrlW(asked.c_str(), location.c_str(), nullptr, &length, 0);
  std::wstring combined(length + 1, L'\0');
  length = static_cast<DWORD>(combined.size());
  if (!InternetCombineUrlW(asked.c_str(), location.c_str(), combined.data(), &length, 0)) {
    return location;  // taken as it stands; CrackUrl judges it
  }
  combined.resize(length);
  return combined;
}

}  // namespace

DWORD SendFollowingRedirects(RequestHandles& handles, Outgoing out, HINTERNET& request) {
  for (int redirects = 0;; ++redirects) {
    const DWORD opened =
        handles.Open(out.target, out.verb.c_str(), kRequestFlags, out.timeouts, request, out.async);
    if (opened != 0) return opened;
    if (!HttpSendRequestW(request, out.headers, out.headers != nullptr ? static_cast<DWORD>(-1) : 0,
                          out.payload.empty() ? nullptr : out.payload.data(),
                          static_cast<DWORD>(out.payload.size()))) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING || out.async == nullptr) return error;
      if (const DWORD sent = out.async->await(); sent != 0) return sent;
    }
    const std::wstring next = RedirectTarget(request, out.target.url);
    if (next.empty()) return 0;
    if (redirects == kMaxRedirects) return ERROR_HTTP_REDIRECT_FAILED;
    DWORD status = 0, size = sizeof status;
    HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                   nullptr);
    RequestTarget target;
    DWORD crackError = 0;
    switch (CrackUrl(WideToUtf8(next), true, target, crackError)) {
      case UrlFault::kNone:
        break;
      case UrlFault::kScheme:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
      case UrlFault::kUnreadable:
      case UrlFault::kNoHost:
        return ERROR_INTERNET_INVALID_URL;
    }
    // A server must not take a request off TLS without a word: refused, as WinINet's own
    // redirect handling does.
    if (out.target.secure && !target.secure) return ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
    if (status != 307 && status != 308 && out.verb != L"GET" && out.verb != L"HEAD") {
      out.verb = L"GET";
      out.payload.clear();
    }
    out.target = std::move(target);
    request = nullptr;
    handles.Drop();
  }
}

}  // namespace updater::win32
