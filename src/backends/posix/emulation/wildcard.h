#pragma once
// Name patterns as the Windows directory search reads them: `*` any run of characters, `?` one
// character, letters compared without regard to case, "x.*" also matching "x".

#include <string_view>

namespace updater::posix {

bool HasWildcard(std::string_view name);
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace updater::posix
