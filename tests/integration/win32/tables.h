#pragma once
// The tables of project.mdb in the whole-run test build: a UTF-8 text file that the tests seed
// and read back and the database double works on.
//
//   table versions
//   version<TAB>updatetime<TAB>updatecmt<TAB>versionT
//   1.0<TAB>t1<TAB><TAB>0
//
// A "table NAME" line starts a table, the next line names its columns, each further line is a
// row. In values a backslash is written \\, a tab \t, CR \r, LF \n; \N alone is Null.

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wholerun {

using Value = std::optional<std::string>;  // nullopt is Null

struct Table {
  std::string name;
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
};

inline std::string EscapeValue(const Value& v) {
  if (!v) return "\\N";
  std::string out;
  for (const char c : *v) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

inline Value UnescapeValue(const std::string& s) {
  if (s == "\\N") return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts(1);
  for (const char c : line) {
    if (c == '\t') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

inline std::string FormatTables(const std::vector<Table>& tables) {
  std::string out;
  for (const Table& t : tables) {
    out += "table " + t.name + "\n";
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      if (i > 0) out += '\t';
      out += t.columns[i];
    }
    out += '\n';
    for (const auto& row : t.rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) out += '\t';
        out += EscapeValue(row[i]);
      }
      out += '\n';
    }
  }
  return out;
}

// Throws std::runtime_error on text that is not in this format.
inline std::vector<Table> ParseTables(const std::string& text) {
  std::vector<Table> tables;
  bool wantColumns = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("table ", 0) == 0) {
      tables.push_back({line.substr(6), {}, {}});
      wantColumns = true;
    } else if (tables.empty()) {
      if (!line.empty()) throw std::runtime_error("a row before the first table: " + line);
    } else if (wantColumns) {
      tables.back().columns = SplitTabs(line);
      wantColumns = false;
    } else {
      std::vector<Value> row;
      for (const std::string& part : SplitTabs(line)) row.push_back(UnescapeValue(part));
      if (row.size() != tables.back().columns.size()) {
        throw std::runtime_error("a row of table " + tables.back().name + " has " +
                                 std::to_string(row.size()) + " values: " + line);
      }
      tables.back().rows.push_back(std::move(row));
    }
  }
  return tables;
}

// The values of one column of a table in a file's text, "|" between rows, Null as NULL.
inline std::string ColumnValues(const std::string& text, const std::string& table,
                                const std::string& column) {
  for (const Table& t : ParseTables(text)) {
    if (t.name != table) continue;
    const auto at = std::find(t.columns.begin(), t.columns.end(), column) - t.columns.begin();
    std::string out;
    for (const auto& row : t.rows) {
      if (!out.empty()) out += '|';
      out += row.at(static_cast<std::size_t>(at)).value_or("NULL");
    }
    return out;
  }
  return "no table " + table;
}

}  // namespace wholerun
