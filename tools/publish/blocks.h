#pragma once
// The block index publish writes beside the package, what a client of the earlier release will
// fetch with it, and whether the archive is solid (then almost nothing can be reused).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "upgrade/BlockIndex.h"

namespace publish {

// The index of the package file at path, published as release. Throws std::runtime_error when
// the file cannot be read.
updater::BlockIndex IndexPackage(const std::filesystem::path& path, const std::string& release);

// The bytes a client holding the package at earlier asks the server for to rebuild the package
// indexed. Throws std::runtime_error when earlier cannot be read.
std::int64_t BytesToFetch(const updater::BlockIndex& index, const std::filesystem::path& earlier);

// Whether the first bytes of a RAR archive (4.x or 5.x) say it is solid.
bool SolidRar(std::string_view head);

// "3.1 MiB", "512 KiB", "900 bytes".
std::string Size(std::int64_t bytes);

}  // namespace publish
