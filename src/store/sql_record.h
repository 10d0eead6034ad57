#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "store/record_words.h"
#include "store/sql_database.h"

namespace palisard {

// Records to and from rows without counting positions: a SELECT list and
// the decoder that reads its answer by name come from one SqlColumns, and
// an INSERT's column list and its parameters from one SqlWrite.

// A SELECT list: expressions of the statement ("b.id", "COUNT(r.id) AS
// reports"), each read back by its name (what follows " AS ", else what
// follows the last dot).
class SqlColumns {
 public:
  SqlColumns(std::initializer_list<std::string_view> expressions) { Add(expressions); }
  // `base`'s and then more.
  SqlColumns(const SqlColumns& base, std::initializer_list<std::string_view> more) : SqlColumns(base) { Add(more); }

  // The list as the SELECT writes it.
  const std::string& List() const { return list_; }
  // A column's place in the list; nothing for a name the list lacks.
  std::optional<std::size_t> Find(std::string_view name) const;

 private:
  void Add(std::initializer_list<std::string_view> expressions);

  std::vector<std::string> names_;
  std::string list_;
};

// One row of an answer to a SELECT of `columns`, read by column name. A
// read that fails (a name the list lacks, NULL where a value is wanted, a
// number or a word that is not one) fails the row: the reads go on giving
// empty values, and result() says what failed. So a decoder reads every
// field and then returns result().
class SqlFields {
 public:
  SqlFields(const SqlColumns& columns, const SqlRow& row) : columns_(columns), row_(row) {}

  int64_t Int(std::string_view name);
  std::optional<int64_t> OptionalInt(std::string_view name);
  // A player id: its 64 bits kept in a signed column.
  uint64_t PlayerId(std::string_view name);
  std::optional<uint64_t> OptionalPlayerId(std::string_view name);
  std::string Text(std::string_view name);
  std::optional<std::string> OptionalText(std::string_view name);
  // The value a word of record_words.h names.
  template <typename Enum>
  Enum Value(std::string_view name) {
    const std::optional<Enum> value = ValueOfWord<Enum>(Text(name));
    if (!value && failure_.ok()) Fail(name, "holds a word this program does not know");
    return value.value_or(Enum{});
  }

  Result result() const { return failure_; }

 private:
  // The column's cell, or null after recording the failure.
  const std::optional<std::string>* Cell(std::string_view name);
  std::optional<int64_t> ReadInt(std::string_view name, const std::string& text);
  void Fail(std::string_view name, const std::string& what);

  const SqlColumns& columns_;
  const SqlRow& row_;
  Result failure_;
};

// Reads every row of `rows` with `read` into `records`: the first row that
// fails to read fails the whole.
template <typename Record>
Result ReadRecords(const std::vector<SqlRow>& rows, Result (*read)(const SqlRow&, Record*),
                   std::vector<Record>* records) {
  records->clear();
  records->reserve(rows.size());
  for (const SqlRow& row : rows) {
    Record record;
    Result decoded = read(row, &record);
    if (!decoded.ok()) return decoded;
    records->push_back(std::move(record));
  }
  return Result::Ok();
}

// The one number an answer holds, such as a COUNT or the id a RETURNING
// gives; kFailed when it holds none.
Result SingleInt(const std::vector<SqlRow>& rows, int64_t* value);

// A row to write: its columns' names with their values, which make the
// INSERT's column list and its parameters together.
class SqlWrite {
 public:
  SqlWrite& Set(std::string_view column, SqlValue value);
  // "INSERT INTO table (a, b) VALUES ($1, $2)"; the caller may add a
  // RETURNING or an ON CONFLICT clause.
  std::string Insert(std::string_view table) const;
  const std::vector<SqlValue>& values() const { return values_; }

 private:
  std::vector<std::string> columns_;
  std::vector<SqlValue> values_;
};

// A player id's 64 bits as the signed column keeps them.
inline int64_t SqlId(uint64_t playerId) { return static_cast<int64_t>(playerId); }
// NULL for nothing.
SqlValue OptionalValue(const std::optional<int64_t>& value);

}  // namespace palisard
