#pragma once
// Conversions between the core's UTF-8 text, UTF-16 and the ANSI code page of the system (the
// code page of the ...A services). Embedded zero characters are kept.

#include <string>
#include <string_view>

namespace updater::win32 {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

}  // namespace updater::win32
