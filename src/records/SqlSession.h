// The little of SQL the records' transactions need, the same over an SQLite file and a PostgreSQL
// connection: statements run with parameters, transactions begun, committed and rolled back, and
// the rows of an answer read by column name. Each store implements it over its own connection;
// its failures are the store's own (thrown by Execute, Begin and Commit as the store reports them).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tuva::records {

// A statement's parameter. Booleans go as 0 and 1 (a PostgreSQL boolean parameter takes them).
using SqlValue = std::variant<std::int64_t, double, std::string>;

// One row of an answer. Columns are found by name once (Column) and read by their index.
class SqlRow {
 public:
  virtual ~SqlRow() = default;
  // The column's index, or -1 when the answer has no column of that name.
  virtual int Find(std::string_view name) const = 0;
  virtual bool Null(int column) const = 0;
  virtual std::string_view Text(int column) const = 0;  // "" for NULL
  virtual std::int64_t Int(int column) const = 0;
  virtual double Real(int column) const = 0;
  // A boolean column, or an integer one holding 0 or 1.
  virtual bool Bool(int column) const = 0;

  // Throws RecordsError when the answer has no column of that name.
  int Column(std::string_view name) const;
  std::string String(std::string_view name) const { return std::string(Text(Column(name))); }
  std::int64_t Integer(std::string_view name) const { return Int(Column(name)); }
};

using RowReader = std::function<void(const SqlRow&)>;

class SqlSession {
 public:
  virtual ~SqlSession() = default;
  // A transaction that writes: it takes whatever lock keeps two writers apart at once.
  virtual void Begin() = 0;
  // A transaction that only reads: one snapshot, never a write lock.
  virtual void BeginRead() = 0;
  virtual void Commit() = 0;
  // Ends the open transaction, when there is one; never throws.
  virtual void Rollback() = 0;
  // Runs `sql` with `parameters` (numbered from 1 in the statement) and calls `row` with each row
  // of the answer, in order. Returns how many rows the statement changed.
  virtual std::int64_t Execute(const std::string& sql, const std::vector<SqlValue>& parameters,
                               const RowReader& row = nullptr) = 0;

  // Whether the statement's answer has any row.
  bool Any(const std::string& sql, const std::vector<SqlValue>& parameters);
};

// Rolls back, when an exception leaves the scope, the transaction the scope left open.
class RollbackOnThrow {
 public:
  explicit RollbackOnThrow(SqlSession& session) : session_(session) {}
  ~RollbackOnThrow() {
    if (std::uncaught_exceptions() > exceptions_) session_.Rollback();
  }
  RollbackOnThrow(const RollbackOnThrow&) = delete;
  RollbackOnThrow& operator=(const RollbackOnThrow&) = delete;

 private:
  SqlSession& session_;
  int exceptions_ = std::uncaught_exceptions();
};

}  // namespace tuva::records
