// The machine's settings registry: named, typed values grouped under keys, kept in one SQLite
// database file shared by every process of the machine's user.
//
// Keys are backslash paths ("Software\Orvane Systems\Corrivo Selector\Settings"); a leading or
// trailing backslash is ignored and an empty component makes the path invalid. Key paths and
// value names are compared without regard to ASCII case, so "SOFTWARE\x" and "Software\X" are the
// same key. A value has a name (possibly empty), a type and bytes; text is stored without a
// terminating zero. The values of a key enumerate in the order they were created; overwriting a
// value keeps its place and the spelling of its name.
//
// The database file is $VQSCW_REGISTRY when set, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/vqscw/registry.db. It is created, with its folder, by the first
// write; reading a registry that does not exist yet finds no keys. Every value write is one
// transaction, so processes writing at once never lose each other's values (the last writer of a
// value wins). Readers do not block writers (write-ahead log); a writer waits at most
// kRegistryBusyTimeoutMs for another writer. A file that is not a registry database (garbage,
// truncated, another program's database) is never changed: reads report kBadDatabase and writes
// fail.
//
// A process keeps one connection to the registry file open between operations, so that opening a
// key costs microseconds; it is reopened when the file changes on disk other than through SQLite
// (replaced, truncated, rewritten), so such damage is seen at the next open.
//
// Thread safety: a RegistryKey belongs to one thread at a time; keys of different threads may be
// used at once (they take turns on the shared connection). A key open when the process forks must
// not be used in the child; keys the child opens are its own.
#ifndef VQSCWLIB_PLATFORM_REGISTRY_H_
#define VQSCWLIB_PLATFORM_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Value types, with their platform numbers.
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

namespace vqscw {

// Longest a writer waits for another process's write to finish.
inline constexpr int kRegistryBusyTimeoutMs = 2000;

// Largest value the registry stores or returns, in bytes.
inline constexpr size_t kRegistryMaxValueBytes = 1 << 20;

enum class RegStatus {
  kOk,
  kNotFound,     // the key or the value does not exist (also: no database file yet)
  kMoreData,     // the value or its name is longer than the caller allowed; nothing returned
  kBadDatabase,  // the file is not a readable registry database
  kFailed,       // anything else: invalid key path, no permission, I/O error, busy too long
};

// A short English text for a status, for messages.
const char* RegStatusText(RegStatus status);

struct RegValue {
  std::string name;  // as first written
  uint32_t type = 0;
  std::string data;  // the value's bytes
};

// The 4 bytes of a REG_DWORD, lowest byte first.
std::string DwordBytes(uint32_t value);

namespace registry_internal {
struct Connection;
}

// An open key. Obtained from Registry::OpenKey (reading) or Registry::CreateKey (reading and
// writing); closed by its destructor. Moving transfers the open key.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&&) noexcept;
  RegistryKey& operator=(RegistryKey&&) noexcept;

  bool is_open() const { return conn_ != nullptr; }
  // The key's path as first created.
  const std::string& path() const { return path_; }

  // Reads value `name` into *value. Returns kMoreData, leaving *value untouched, when the value
  // holds more than `max_bytes` bytes.
  RegStatus Query(std::string_view name, size_t max_bytes, RegValue* value) const;

  // Writes value `name`, replacing its type and bytes when it exists. REQUIRES: a key from
  // CreateKey (a key opened for reading gives kFailed). Data longer than kRegistryMaxValueBytes
  // gives kFailed.
  RegStatus Set(std::string_view name, uint32_t type, std::string_view data);
  RegStatus SetText(std::string_view name, std::string_view text) {
    return Set(name, REG_SZ, text);
  }
  RegStatus SetDword(std::string_view name, uint32_t value) {
    return Set(name, REG_DWORD, DwordBytes(value));
  }

  // Removes value `name`: kNotFound when it does not exist. REQUIRES: a key from CreateKey.
  RegStatus Delete(std::string_view name);

  // Reads the value at `index` (0 = the oldest) of the key's values in creation order. Returns
  // kNotFound past the last value, and kMoreData when the value's name is longer than
  // `max_name_chars` bytes or its data longer than `max_bytes`.
  RegStatus Enum(size_t index, size_t max_name_chars, size_t max_bytes, RegValue* value) const;

  void Close();

 private:
  friend class Registry;
  std::shared_ptr<registry_internal::Connection> conn_;
  int64_t key_id_ = 0;
  bool writable_ = false;
  std::string path_;
};

// One registry database file. Cheap to construct: nothing is opened until a key is.
class Registry {
 public:
  // The registry of this process: the file named by $VQSCW_REGISTRY or the default path.
  Registry();
  explicit Registry(std::string file);

  // The database file's path; empty when no path could be found ($HOME unknown).
  const std::string& file() const { return file_; }

  // Opens an existing key for reading.
  RegStatus OpenKey(std::string_view path, RegistryKey* key) const;
  // Opens a key for writing, creating it (and the database file and folder) when missing.
  RegStatus CreateKey(std::string_view path, RegistryKey* key) const;

  // Every key's path, in the order the keys were created. kOk with none when there is no file.
  RegStatus ListKeys(std::vector<std::string>* paths) const;

  // Checks the whole file for damage: kOk, or kBadDatabase with a description in *problem.
  RegStatus Check(std::string* problem) const;

 private:
  std::string file_;
};

// The database file this process uses now: $VQSCW_REGISTRY, else the default path.
std::string RegistryFilePath();

// Closes the connection that this process keeps open to its last registry file (it is opened again
// when needed); keys still open keep theirs. When it was the machine's last connection to the
// file, SQLite folds its write-ahead log back into the file and removes the log.
void ReleaseRegistryFile();

// Normalises a key path: trims leading and trailing backslashes. Returns false for an empty path
// or one with an empty component.
bool NormaliseKeyPath(std::string_view path, std::string* normalised);

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_REGISTRY_H_
