#include "backends/common/memory_recordset.h"

#include <cstdio>
#include <utility>

#include "backends/common/ado_errors.h"
#include "ports/errors.h"
#include "util/text.h"

namespace updater {

namespace {

[[noreturn]] void ThrowAdo(int number) {
  const char* text = ado::ErrorText(number);
  throw RuntimeError(number, text != nullptr ? text : "Operation is not allowed.");
}

}  // namespace

void MemoryRecordset::Open(const std::string& source) {
  RequireClosed();
  if (!Connected()) ThrowAdo(ado::kConnectionUnusable);
  Result result = Load(source);
  columns_ = std::move(result.columns);
  rows_ = std::move(result.rows);
  updatable_ = result.updatable;
  pos_ = 0;
  mode_ = Mode::kNone;
  open_ = true;
}

bool MemoryRecordset::IsEOF() {
  RequireOpen();
  // A row being added is current until it is stored.
  return mode_ != Mode::kAdd && pos_ >= rows_.size();
}

std::string MemoryRecordset::Field(const std::string& name) {
  RequireOpen();
  const std::size_t i = ColumnIndex(name);
  if (mode_ != Mode::kNone) return pending_[i].value_or("");
  if (pos_ >= rows_.size()) ThrowAdo(ado::kNoCurrentRecord);
  return rows_[pos_].values[i].value_or("");
}

void MemoryRecordset::SetField(const std::string& name, const std::string& value) {
  RequireOpen();
  const std::size_t i = ColumnIndex(name);
  if (mode_ == Mode::kNone) {
    if (pos_ >= rows_.size()) ThrowAdo(ado::kNoCurrentRecord);
    RequireUpdatable();
    mode_ = Mode::kEdit;
    pending_ = rows_[pos_].values;
    dirty_.assign(columns_.size(), false);
  }
  pending_[i] = value;
  dirty_[i] = true;
}

void MemoryRecordset::SetFieldDate(const std::string& name, const ports::DateTime& v) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day, v.hour,
                v.minute, v.second);
  SetField(name, text);
}

void MemoryRecordset::AddNew() {
  RequireOpen();
  RequireUpdatable();
  // A row being edited is stored first, as ADO does.
  if (mode_ != Mode::kNone) Update();
  mode_ = Mode::kAdd;
  pending_.assign(columns_.size(), std::nullopt);
  dirty_.assign(columns_.size(), false);
}

void MemoryRecordset::Update() {
  RequireOpen();
  if (mode_ == Mode::kNone) return;
  if (!Connected()) ThrowAdo(ado::kConnectionUnusable);
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (dirty_[i]) changed.push_back(i);
  }
  // The copy in memory changes only once the store has taken the row, so a refused write
  // leaves the row being edited or added, to be stored again or given up.
  if (mode_ == Mode::kEdit) {
    rows_[pos_].values = StoreEdit(rows_[pos_], pending_, changed);
  } else {
    rows_.push_back(StoreNew(pending_, changed));
    pos_ = rows_.size() - 1;
  }
  mode_ = Mode::kNone;
}

void MemoryRecordset::MoveNext() {
  RequireOpen();
  if (mode_ != Mode::kNone) Update();
  if (pos_ >= rows_.size()) ThrowAdo(ado::kNoCurrentRecord);
  ++pos_;
}

void MemoryRecordset::Close() {
  RequireOpen();
  if (mode_ != Mode::kNone) ThrowAdo(ado::kNotAllowedInContext);
  open_ = false;
  rows_.clear();
  columns_.clear();
}

std::size_t MemoryRecordset::ColumnIndex(const std::string& name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (text::EqualsNoCase(columns_[i], name)) return i;
  }
  ThrowAdo(ado::kItemNotFound);
}

void MemoryRecordset::RequireOpen() const {
  if (!open_) ThrowAdo(ado::kObjectClosed);
}

void MemoryRecordset::RequireClosed() const {
  if (open_) ThrowAdo(ado::kObjectOpen);
}

void MemoryRecordset::RequireUpdatable() const {
  if (!updatable_) ThrowAdo(ado::kNotUpdatable);
}

}  // namespace updater
