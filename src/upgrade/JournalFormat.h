#pragma once
// The undo journal's file: a header that names it, the length of its body and the body's
// CRC-32, then the body: whether the copies stand, and one line per entry. A journal is read
// whole or not at all: a file cut short, zero-filled by a power cut or written by anything else
// reads as nothing, and nothing is undone or removed on its word.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

struct JournalEntry {
  char op = 0;        // 'M' moved aside, 'C' created by the copy
  std::string aside;  // for 'M': its path in the undo folder ("folder\number")
  // The folder path is relative to: empty for the folder the journal sits in, else the number
  // of a project whose folder lies there. Absent in the journals of earlier versions, whose
  // paths are absolute.
  std::optional<std::string> root;
  std::string path;
};

struct JournalContent {
  // True once the copies stand: what was moved aside is no longer wanted.
  bool committed = false;
  std::vector<JournalEntry> entries;
};

// Written with roots; as an earlier version wrote it when its entries have none.
std::string SerializeJournal(const JournalContent& journal);
// Empty unless text is a whole journal with at least one entry, every line of it well formed.
std::optional<JournalContent> ParseJournal(std::string_view text);

std::uint32_t Crc32(std::string_view bytes);

// Why a path relative to a root must not be acted on (it has a root or drive of its own, a
// "..", a stream, a device name, an empty or a bare "." component), or empty when it names
// something inside its root.
std::string RelativePathFault(std::string_view path);
// Why an entry's aside file must not be used (it is not "folder\number" inside the undo
// folder), or empty.
std::string AsideFault(const JournalEntry& entry);

}  // namespace updater
