#pragma once
// The user's trash as freedesktop.org lays it out: $XDG_DATA_HOME/Trash (or
// ~/.local/share/Trash) with the item under files/ and a .trashinfo record under info/.

#include <filesystem>
#include <system_error>

namespace updater::posix {

// The trash folder of the user.
std::filesystem::path TrashFolder();

// Moves item into the trash; returns the name it got under files/, or an error.
std::error_code MoveToTrash(const std::filesystem::path& item,
                            std::filesystem::path* trashed = nullptr);

}  // namespace updater::posix
