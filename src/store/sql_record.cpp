#include "store/sql_record.h"

#include <charconv>

namespace palisard {

void SqlColumns::Add(std::initializer_list<std::string_view> expressions) {
  for (std::string_view expression : expressions) {
    std::string_view name = expression;
    if (const std::size_t as = expression.rfind(" AS "); as != std::string_view::npos) {
      name = expression.substr(as + 4);
    } else if (const std::size_t dot = expression.rfind('.'); dot != std::string_view::npos) {
      name = expression.substr(dot + 1);
    }
    names_.emplace_back(name);
    if (!list_.empty()) list_ += ", ";
    list_ += expression;
  }
}

std::optional<std::size_t> SqlColumns::Find(std::string_view name) const {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == name) return i;
  }
  return std::nullopt;
}

void SqlFields::Fail(std::string_view name, const std::string& what) {
  if (failure_.ok()) failure_ = Result::Failed("the database's column " + std::string(name) + " " + what);
}

const std::optional<std::string>* SqlFields::Cell(std::string_view name) {
  const std::optional<std::size_t> at = columns_.Find(name);
  if (!at || *at >= row_.size()) {
    Fail(name, "is not in the answer");
    return nullptr;
  }
  return &row_[*at];
}

std::optional<int64_t> SqlFields::ReadInt(std::string_view name, const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size()) return value;
  Fail(name, "holds '" + text + "', not a number");
  return std::nullopt;
}

std::optional<int64_t> SqlFields::OptionalInt(std::string_view name) {
  const std::optional<std::string>* cell = Cell(name);
  if (cell == nullptr || !*cell) return std::nullopt;
  return ReadInt(name, **cell);
}

int64_t SqlFields::Int(std::string_view name) {
  const std::optional<std::string>* cell = Cell(name);
  if (cell == nullptr) return 0;
  if (!*cell) {
    Fail(name, "is NULL");
    return 0;
  }
  return ReadInt(name, **cell).value_or(0);
}

std::optional<uint64_t> SqlFields::OptionalPlayerId(std::string_view name) {
  const std::optional<int64_t> id = OptionalInt(name);
  if (!id) return std::nullopt;
  return static_cast<uint64_t>(*id);
}

uint64_t SqlFields::PlayerId(std::string_view name) { return static_cast<uint64_t>(Int(name)); }

std::optional<std::string> SqlFields::OptionalText(std::string_view name) {
  const std::optional<std::string>* cell = Cell(name);
  return cell != nullptr ? *cell : std::nullopt;
}

std::string SqlFields::Text(std::string_view name) {
  const std::optional<std::string>* cell = Cell(name);
  if (cell == nullptr) return {};
  if (!*cell) Fail(name, "is NULL");
  return cell->value_or(std::string());
}

Result SingleInt(const std::vector<SqlRow>& rows, int64_t* value) {
  static const SqlColumns kOne({"value"});
  if (rows.empty()) return Result::Failed("the database answered no row where one was due");
  SqlFields fields(kOne, rows[0]);
  *value = fields.Int("value");
  return fields.result();
}

SqlWrite& SqlWrite::Set(std::string_view column, SqlValue value) {
  columns_.emplace_back(column);
  values_.push_back(std::move(value));
  return *this;
}

std::string SqlWrite::Insert(std::string_view table) const {
  std::string names;
  std::string parameters;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    names += (i == 0 ? "" : ", ") + columns_[i];
    parameters += (i == 0 ? "$" : ", $") + std::to_string(i + 1);
  }
  return "INSERT INTO " + std::string(table) + " (" + names + ") VALUES (" + parameters + ")";
}

SqlValue OptionalValue(const std::optional<int64_t>& value) {
  if (!value) return nullptr;
  return *value;
}

}  // namespace palisard
