// The SQLite side of the registry (registry.h): a connection to the registry file, its set-up,
// and the connection each process keeps open between operations. Only registry.cpp uses this.
//
// Locks: the kept connection's slot has a lock of its own and each connection has one; the two
// are never held together.
#ifndef VQSCWLIB_PLATFORM_REGISTRY_CONNECTION_H_
#define VQSCWLIB_PLATFORM_REGISTRY_CONNECTION_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/platform/registry.h"

namespace vqscw::registry_internal {

// An SQLite result code as a registry status.
RegStatus StatusOf(int rc);

// A prepared statement, finalised when it goes out of scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // The status of preparing. Our statements are valid for our schema, so a plain SQL error here
  // means the file's schema is not ours.
  RegStatus prepare_status() const {
    if (rc_ == SQLITE_ERROR) return RegStatus::kBadDatabase;
    return StatusOf(rc_);
  }
  bool ok() const { return rc_ == SQLITE_OK; }

  void BindInt(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void BindText(int index, std::string_view text) {
    // A null pointer would bind SQL NULL; an empty text must stay an empty text.
    sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                      SQLITE_STATIC);
  }
  void BindBlob(int index, std::string_view data) {
    sqlite3_bind_blob(stmt_, index, data.empty() ? "" : data.data(), static_cast<int>(data.size()),
                      SQLITE_STATIC);
  }

  int Step() { return sqlite3_step(stmt_); }

  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  int ColumnType(int column) const { return sqlite3_column_type(stmt_, column); }
  std::string_view Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr) return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
  }
  std::string_view Blob(int column) const {
    const auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    if (blob == nullptr) return {};
    return {blob, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

// What a registry file is on disk, apart from its write-ahead log: a change means someone
// replaced, truncated or rewrote the file, or the log was copied back into it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modified_ns = 0;

  bool operator==(const FileIdentity&) const = default;
};

// One SQLite connection to a registry file, shared by the keys opened on it and closed with the
// last of them.
struct Connection {
  sqlite3* db = nullptr;
  // Held for every use of db, which the keys of several threads may share.
  Mutex mu;
  FileIdentity identity;
  // Opened with write access and set up for writing.
  bool writable = false;
  // An operation found the file damaged: the next key connects afresh.
  std::atomic<bool> damaged{false};

  ~Connection() { sqlite3_close_v2(db); }
};

// A connection to `file` for reading or for writing: the kept one when it still fits the file,
// else a new one, which is then kept. For reading, a missing file or one without a registry in it
// yet is kNotFound; for writing, the file is created and set up. On failure *problem (when
// given) says why.
RegStatus Acquire(const std::string& file, bool for_writing, std::shared_ptr<Connection>* conn,
                  std::string* problem = nullptr);

// Drops the kept connection; keys that hold it keep it open until they close.
void ForgetKeptConnection();

// Returns `status`, noting on the connection a damaged file, so that the next key connects
// afresh.
RegStatus Noted(Connection* conn, RegStatus status);

}  // namespace vqscw::registry_internal

#endif  // VQSCWLIB_PLATFORM_REGISTRY_CONNECTION_H_
