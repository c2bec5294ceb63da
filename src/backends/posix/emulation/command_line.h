#pragma once
// Splitting a Windows command line into its arguments with the rules of CommandLineToArgvW.

#include <string>
#include <string_view>
#include <vector>

namespace updater::posix {

// The program name ends at the next quote when it starts with one, else at the first blank, and
// backslashes in it are plain characters. In the arguments that follow, 2n backslashes before a
// quote give n backslashes and the quote opens or closes quoting; 2n+1 give n backslashes and a
// literal quote; other backslashes are plain; a doubled quote inside quotes is a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace updater::posix
