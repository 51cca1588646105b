// StatementUse: resets a cached statement of the settings store after use,
// whatever happened, so that it holds no read transaction open between calls.
#ifndef QUENTA_SQLBRIDGE_STATEMENTUSE_H_
#define QUENTA_SQLBRIDGE_STATEMENTUSE_H_

#include <sqlite3.h>

namespace quenta {

struct StatementUse {
  explicit StatementUse(sqlite3_stmt* s) : stmt(s) {}
  ~StatementUse() {
    if (stmt != nullptr) {
      sqlite3_reset(stmt);
      sqlite3_clear_bindings(stmt);
    }
  }
  sqlite3_stmt* stmt;

  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
};

}  // namespace quenta

#endif  // QUENTA_SQLBRIDGE_STATEMENTUSE_H_
