#include "vqscwlib/platform/registry_connection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

namespace vqscw::registry_internal {

namespace {

// Marks the file as ours ("VQSR"), so another program's database is never taken for a registry.
constexpr int32_t kApplicationId = 0x56515352;
constexpr int32_t kSchemaVersion = 1;

// Value order is the order of `seq`: a new row's INTEGER PRIMARY KEY is always above every row
// present, so it holds creation order among the living values even when rows were deleted.
constexpr char kSchema[] =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY,"
    "  path TEXT NOT NULL UNIQUE COLLATE NOCASE) STRICT;"
    "CREATE TABLE vals("
    "  seq INTEGER PRIMARY KEY,"
    "  key_id INTEGER NOT NULL REFERENCES keys(id),"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key_id, name)) STRICT;"
    "CREATE INDEX vals_order ON vals(key_id, seq);";

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

RegStatus StatusOf(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return RegStatus::kOk;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return RegStatus::kBadDatabase;
    default:
      return RegStatus::kFailed;
  }
}

namespace {

RegStatus Exec(sqlite3* db, const char* sql) {
  return StatusOf(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

enum class SchemaState { kEmpty, kOurs, kForeign };

RegStatus ReadSchemaState(sqlite3* db, SchemaState* state) {
  Statement stmt(db,
                 "SELECT (SELECT application_id FROM pragma_application_id),"
                 "  (SELECT user_version FROM pragma_user_version),"
                 "  (SELECT count(*) FROM sqlite_master)");
  if (!stmt.ok()) return stmt.prepare_status();
  int rc = stmt.Step();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? RegStatus::kBadDatabase : StatusOf(rc);
  if (stmt.Int(0) == kApplicationId && stmt.Int(1) == kSchemaVersion) {
    *state = SchemaState::kOurs;
  } else if (stmt.Int(0) == 0 && stmt.Int(1) == 0 && stmt.Int(2) == 0) {
    *state = SchemaState::kEmpty;
  } else {
    *state = SchemaState::kForeign;
  }
  return RegStatus::kOk;
}

// Switches the database to its write-ahead log, which lets readers go on while a writer writes.
// The switch needs the file to itself for a moment and SQLite does not wait for that: another
// process that already uses the log holds it open. So retry, reading in between, which makes
// SQLite notice a log another process switched on and the switch a no-op.
RegStatus UseWriteAheadLog(sqlite3* db) {
  for (int waited_ms = 0;; ++waited_ms) {
    Statement stmt(db, "PRAGMA journal_mode=WAL");
    int rc = stmt.ok() ? stmt.Step() : SQLITE_ERROR;
    if (rc == SQLITE_ROW) {
      return stmt.Text(0) == "wal" ? RegStatus::kOk : RegStatus::kFailed;
    }
    if ((rc & 0xFF) != SQLITE_BUSY || waited_ms >= kRegistryBusyTimeoutMs) {
      return stmt.ok() ? StatusOf(rc) : stmt.prepare_status();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SchemaState state;
    ReadSchemaState(db, &state);
  }
}

// Turns an empty database into a registry. Safe against another process doing the same at once:
// the check is repeated under the write lock, for which the busy handler waits.
RegStatus Initialise(sqlite3* db) {
  RegStatus status = Exec(db, "BEGIN IMMEDIATE");
  if (status != RegStatus::kOk) return status;
  SchemaState state;
  status = ReadSchemaState(db, &state);
  if (status == RegStatus::kOk && state == SchemaState::kForeign) status = RegStatus::kBadDatabase;
  if (status == RegStatus::kOk && state == SchemaState::kEmpty) {
    std::string sql = kSchema;
    sql += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
    sql += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    status = Exec(db, sql.c_str());
  }
  if (status == RegStatus::kOk) status = Exec(db, "COMMIT");
  if (status != RegStatus::kOk) Exec(db, "ROLLBACK");
  return status;
}

// Opens a new connection to the registry file. For reading, an empty database (no registry yet)
// gives kNotFound; for writing, the file and its folder are created and the database set up.
// On failure *problem (when given) says why.
RegStatus Connect(const std::string& file, bool for_writing, std::unique_ptr<Connection>* out,
                  std::string* problem) {
  auto fail = [problem](RegStatus status, std::string why) {
    if (problem != nullptr) *problem = std::move(why);
    return status;
  };
  if (for_writing) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
  }
  auto conn = std::make_unique<Connection>();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (for_writing ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(file.c_str(), &conn->db, flags, nullptr);
  if (rc == SQLITE_CANTOPEN && !for_writing) {
    // A file we may read but not write (an administrator's): read it as it is.
    sqlite3_close_v2(conn->db);
    conn->db = nullptr;
    rc = sqlite3_open_v2(file.c_str(), &conn->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                         nullptr);
  }
  if (rc != SQLITE_OK) return fail(StatusOf(rc), sqlite3_errmsg(conn->db));
  sqlite3_busy_timeout(conn->db, kRegistryBusyTimeoutMs);

  SchemaState state;
  RegStatus status = ReadSchemaState(conn->db, &state);
  if (status != RegStatus::kOk) return fail(status, sqlite3_errmsg(conn->db));
  if (state == SchemaState::kForeign) {
    return fail(RegStatus::kBadDatabase, "another program's database, not a registry");
  }
  if (for_writing) {
    // Commits need not reach the disk before returning: a killed process loses nothing it
    // committed; only a power cut may lose the last writes.
    status = Exec(conn->db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
    if (status == RegStatus::kOk && state == SchemaState::kEmpty) status = Initialise(conn->db);
    // Also finishes the set-up of a registry whose creator died before switching to the log.
    if (status == RegStatus::kOk) status = UseWriteAheadLog(conn->db);
    if (status != RegStatus::kOk) return fail(status, sqlite3_errmsg(conn->db));
    conn->writable = true;
  } else if (state == SchemaState::kEmpty) {
    return fail(RegStatus::kNotFound, "no registry in the file yet");
  }
  *out = std::move(conn);
  return RegStatus::kOk;
}

// The process keeps its last connection open and hands it to every key opened on the same file:
// a new connection costs the schema's parse and the write-ahead log's set-up (some hundred
// microseconds), a read on an open one a few. The connection is reused only while the file is
// unchanged on disk apart from its log, so a file that someone replaced, truncated or rewrote is
// read afresh. After fork() the child leaves its parent's connection alone (SQLite's locks belong
// to the process that took them).
class ConnectionCache {
 public:
  // The kept connection for `file` when it still fits, else null.
  std::shared_ptr<Connection> Find(const std::string& file, const FileIdentity& identity,
                                   bool for_writing) {
    MutexLock lock(&mu_);
    LeaveInherited();
    if (conn_ == nullptr || file_ != file || !(conn_->identity == identity) || conn_->damaged ||
        (for_writing && !conn_->writable)) {
      return nullptr;
    }
    return conn_;
  }

  void Keep(const std::string& file, std::shared_ptr<Connection> conn) {
    MutexLock lock(&mu_);
    LeaveInherited();
    file_ = file;
    conn_ = std::move(conn);
  }

  void Clear() {
    MutexLock lock(&mu_);
    LeaveInherited();
    conn_.reset();
  }

 private:
  // A connection inherited from the parent process is put aside, never closed, as closing it
  // would touch the parent's locks.
  void LeaveInherited() REQUIRES(mu_) {
    if (pid_ == getpid()) return;
    if (conn_ != nullptr) inherited_.push_back(std::move(conn_));
    conn_.reset();
    pid_ = getpid();
  }

  Mutex mu_;
  std::vector<std::shared_ptr<Connection>> inherited_ GUARDED_BY(mu_);
  pid_t pid_ GUARDED_BY(mu_) = 0;
  std::string file_ GUARDED_BY(mu_);
  std::shared_ptr<Connection> conn_ GUARDED_BY(mu_);
};

// Never destroyed, so that keys may still be opened while the process exits. Its connection is
// closed at exit, though: closing the machine's last connection folds the write-ahead log into
// the file, which then holds everything on its own (for copies and backups).
ConnectionCache& Cache() {
  static ConnectionCache* cache = [] {
    std::atexit([] { Cache().Clear(); });
    return new ConnectionCache;
  }();
  return *cache;
}

}  // namespace

RegStatus Acquire(const std::string& file, bool for_writing, std::shared_ptr<Connection>* conn,
                  std::string* problem) {
  if (file.empty()) {
    if (problem != nullptr) *problem = "no registry file: HOME is not set";
    return RegStatus::kFailed;
  }
  struct stat st;
  if (stat(file.c_str(), &st) == 0) {
    *conn = Cache().Find(file, IdentityOf(st), for_writing);
    if (*conn != nullptr) return RegStatus::kOk;
  } else if (int error = errno; error != ENOENT || !for_writing) {
    if (problem != nullptr) *problem = std::strerror(error);
    return error == ENOENT ? RegStatus::kNotFound : RegStatus::kFailed;
  }
  std::unique_ptr<Connection> fresh;
  RegStatus status = Connect(file, for_writing, &fresh, problem);
  if (status != RegStatus::kOk) return status;
  *conn = std::move(fresh);
  if (stat(file.c_str(), &st) == 0) {
    (*conn)->identity = IdentityOf(st);
    Cache().Keep(file, *conn);
  }
  return RegStatus::kOk;
}

void ForgetKeptConnection() { Cache().Clear(); }

RegStatus Noted(Connection* conn, RegStatus status) {
  if (status == RegStatus::kBadDatabase) conn->damaged = true;
  return status;
}

}  // namespace vqscw::registry_internal
