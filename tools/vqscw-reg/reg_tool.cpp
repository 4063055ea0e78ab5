#include "tools/vqscw-reg/reg_tool.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace vqscw {

namespace {

constexpr char kProgram[] = "vqscw-reg";
constexpr char kValueIndent[] = "    ";
constexpr char kColumnGap[] = "    ";
constexpr char kUnnamedValue[] = "(unnamed)";

constexpr char kUsage[] =
    "usage: vqscw-reg [--file PATH] COMMAND\n"
    "  query KEY [VALUE]     show VALUE of KEY, or every value of KEY\n"
    "  add KEY VALUE [--type REG_SZ|REG_DWORD|REG_BINARY] --data D\n"
    "                        write VALUE (REG_SZ unless told); REG_DWORD data is a number,\n"
    "                        decimal or 0x hexadecimal; REG_BINARY data is hexadecimal bytes\n"
    "  delete KEY VALUE      remove VALUE from KEY\n"
    "  list                  show every key and value\n"
    "KEY is a backslash path; quote it for the shell, e.g.\n"
    "  vqscw-reg add 'SOFTWARE\\Orvane Systems\\Pelmar Tunely' Version --data 3.0\n"
    "  vqscw-reg add 'System\\CurrentControlSet\\Services\\sndport\\Parameters' INIP"
    " --data 10.1.2.3\n"
    "'/' may stand for '\\'; a leading HKEY_LOCAL_MACHINE\\ or HKLM\\ is ignored.\n"
    "The registry file is $VQSCW_REGISTRY, else"
    " ${XDG_CONFIG_HOME:-$HOME/.config}/vqscw/registry.db.\n"
    "Exit status: 0 done; 1 key or value not found; 2 bad command line, type or data;\n"
    "3 registry file damaged or unreadable, or the write failed.\n";

struct Command {
  std::string file;
  bool file_given = false;
  std::vector<std::string> words;  // the command and its operands
  std::optional<std::string> type;
  std::optional<std::string> data;
};

// Splits options from operands. Options may come anywhere, as "--name VALUE" or "--name=VALUE";
// "--" ends the options.
bool ParseCommandLine(std::span<const std::string> args, Command* command, std::string* error) {
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      command->words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "help") {
      command->words.assign({"help"});
      return true;
    }
    if (name != "file" && name != "type" && name != "data") {
      *error = "unknown option --" + name;
      return false;
    }
    if (!value) {
      if (i + 1 == args.size()) {
        *error = "--" + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (name == "file") {
      command->file = *value;
      command->file_given = true;
    } else if (name == "type") {
      command->type = *value;
    } else {
      command->data = *value;
    }
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ValueLine(const RegValue& value) {
  std::string line = kValueIndent;
  line += value.name.empty() ? kUnnamedValue : FormatRegData(REG_SZ, value.name);
  line += kColumnGap;
  line += RegTypeName(value.type);
  line += kColumnGap;
  line += FormatRegData(value.type, value.data);
  return line;
}

// Runs one command against one registry file.
class Tool {
 public:
  Tool(Registry registry, std::ostream& out, std::ostream& err)
      : registry_(std::move(registry)), out_(out), err_(err) {}

  int Query(const std::string& key_path, const std::optional<std::string>& name) {
    RegistryKey key;
    RegStatus status = registry_.OpenKey(key_path, &key);
    if (status != RegStatus::kOk) return Fail(status, "key not found: " + key_path);
    RegValue value;
    if (name) {
      status = key.Query(*name, kRegistryMaxValueBytes, &value);
      if (status != RegStatus::kOk) {
        return Fail(status, "value not found: " + *name + " in " + key.path());
      }
      out_ << key.path() << "\n" << ValueLine(value) << "\n";
      return kRegToolOk;
    }
    return PrintKey(key);
  }

  int Add(const std::string& key_path, const std::string& name, uint32_t type,
          const std::string& bytes) {
    RegistryKey key;
    RegStatus status = registry_.CreateKey(key_path, &key);
    if (status == RegStatus::kOk) status = key.Set(name, type, bytes);
    if (status != RegStatus::kOk) return Fail(status, "");
    return kRegToolOk;
  }

  int Delete(const std::string& key_path, const std::string& name) {
    RegistryKey key;
    RegStatus status = registry_.OpenKey(key_path, &key);
    if (status != RegStatus::kOk) return Fail(status, "key not found: " + key_path);
    status = registry_.CreateKey(key_path, &key);
    if (status == RegStatus::kOk) status = key.Delete(name);
    if (status != RegStatus::kOk) {
      return Fail(status, "value not found: " + name + " in " + key.path());
    }
    return kRegToolOk;
  }

  int List() {
    std::string problem;
    if (registry_.Check(&problem) != RegStatus::kOk) return BadRegistry(problem);
    std::vector<std::string> paths;
    RegStatus status = registry_.ListKeys(&paths);
    if (status != RegStatus::kOk) return Fail(status, "");
    for (size_t i = 0; i < paths.size(); ++i) {
      RegistryKey key;
      status = registry_.OpenKey(paths[i], &key);
      if (status != RegStatus::kOk) return Fail(status, "");
      if (i > 0) out_ << "\n";
      int result = PrintKey(key);
      if (result != kRegToolOk) return result;
    }
    return kRegToolOk;
  }

 private:
  int PrintKey(const RegistryKey& key) {
    out_ << key.path() << "\n";
    RegValue value;
    RegStatus status;
    for (size_t index = 0;
         (status = key.Enum(index, SIZE_MAX, kRegistryMaxValueBytes, &value)) == RegStatus::kOk;
         ++index) {
      out_ << ValueLine(value) << "\n";
    }
    return status == RegStatus::kNotFound ? kRegToolOk : Fail(status, "");
  }

  int BadRegistry(const std::string& problem) {
    err_ << kProgram << ": " << registry_.file() << " is not a readable registry database";
    if (!problem.empty()) err_ << " (" << problem << ")";
    err_ << "\n";
    return kRegToolBadRegistry;
  }

  // Reports a failed step: `not_found` is the message for kNotFound.
  int Fail(RegStatus status, const std::string& not_found) {
    switch (status) {
      case RegStatus::kOk:
        return kRegToolOk;
      case RegStatus::kNotFound:
        err_ << kProgram << ": " << not_found << "\n";
        return kRegToolNotFound;
      case RegStatus::kBadDatabase: {
        std::string problem;
        registry_.Check(&problem);
        return BadRegistry(problem);
      }
      case RegStatus::kMoreData:
      case RegStatus::kFailed:
        break;
    }
    err_ << kProgram << ": cannot use the registry file "
         << (registry_.file().empty() ? "(HOME is not set)" : registry_.file())
         << ": no permission, or another process held it too long\n";
    return kRegToolBadRegistry;
  }

  Registry registry_;
  std::ostream& out_;
  std::ostream& err_;
};

// A command line that cannot be run: the problem, then how to call the tool.
int Usage(std::ostream& err, const std::string& problem) {
  err << kProgram << ": " << problem << "\n" << kUsage;
  return kRegToolUsage;
}

// A well-formed command with a type or data that cannot be written.
int BadInput(std::ostream& err, const std::string& problem) {
  err << kProgram << ": " << problem << "\n";
  return kRegToolUsage;
}

}  // namespace

bool ParseRegType(std::string_view name, uint32_t* type) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "REG_SZ") {
    *type = REG_SZ;
  } else if (upper == "REG_DWORD") {
    *type = REG_DWORD;
  } else if (upper == "REG_BINARY") {
    *type = REG_BINARY;
  } else {
    return false;
  }
  return true;
}

std::string RegTypeName(uint32_t type) {
  switch (type) {
    case REG_SZ:
      return "REG_SZ";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_BINARY:
      return "REG_BINARY";
  }
  return "type " + std::to_string(type);
}

bool ParseRegData(uint32_t type, std::string_view text, std::string* bytes, std::string* error) {
  if (type == REG_SZ) {
    if (text.size() > kRegistryMaxValueBytes) {
      *error = "text longer than " + std::to_string(kRegistryMaxValueBytes) + " bytes";
      return false;
    }
    bytes->assign(text);
    return true;
  }
  if (type == REG_DWORD) {
    *error =
        "REG_DWORD data must be a number from -2147483648 to 4294967295, decimal or 0x"
        " hexadecimal";
    bool negative = !text.empty() && text[0] == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    int base = 10;
    if (!negative && digits.size() > 2 && digits[0] == '0' && (digits[1] | 0x20) == 'x') {
      base = 16;
      digits.remove_prefix(2);
    }
    // from_chars takes no sign or prefix of its own here, so "--1" or "0x-1" stay errors.
    if (digits.empty() || HexDigit(digits[0]) < 0) return false;
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (ec != std::errc() || end != digits.data() + digits.size()) return false;
    if (magnitude > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return false;
    uint32_t value = static_cast<uint32_t>(negative ? 0 - magnitude : magnitude);
    *bytes = DwordBytes(value);
    return true;
  }
  if (type == REG_BINARY) {
    *error = "REG_BINARY data must be hexadecimal byte pairs, such as 0a010203 or 0a:01:02:03";
    bytes->clear();
    int high = -1;
    for (char c : text) {
      int digit = HexDigit(c);
      if (digit < 0) {
        if ((c == ' ' || c == ':' || c == '-') && high < 0) continue;
        return false;
      }
      if (high < 0) {
        high = digit;
      } else {
        if (bytes->size() == kRegistryMaxValueBytes) return false;
        bytes->push_back(static_cast<char>(high << 4 | digit));
        high = -1;
      }
    }
    return high < 0;
  }
  *error = "values of " + RegTypeName(type) + " cannot be written";
  return false;
}

std::string FormatRegData(uint32_t type, std::string_view bytes) {
  char buffer[40];
  std::string text;
  if (type == REG_SZ) {
    for (char c : bytes) {
      auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7F) {
        std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
        text += buffer;
      } else {
        text += c;
      }
    }
    return text;
  }
  if (type == REG_DWORD && bytes.size() == 4) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
      value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
    std::snprintf(buffer, sizeof buffer, "0x%08x (%u)", value, value);
    return buffer;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : " %02x", static_cast<uint8_t>(bytes[i]));
    text += buffer;
  }
  return text;
}

std::string KeyPathFromCommandLine(std::string_view text) {
  std::string path(text);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  for (std::string_view root : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
    if (path.size() >= root.size()) {
      bool same = true;
      for (size_t i = 0; i < root.size() && same; ++i) {
        same = std::toupper(static_cast<unsigned char>(path[i])) == root[i];
      }
      if (same) return path.substr(root.size());
    }
  }
  return path;
}

int RunRegTool(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  Command command;
  std::string error;
  if (!ParseCommandLine(args, &command, &error)) return Usage(err, error);
  if (command.words.empty()) return Usage(err, "no command given");
  const std::string verb = command.words[0];
  if (verb == "help") {
    out << kUsage;
    return kRegToolOk;
  }
  const size_t operands = command.words.size() - 1;
  auto operand_count_ok = [&](size_t min, size_t max) {
    return operands >= min && operands <= max;
  };
  bool ok = (verb == "query" && operand_count_ok(1, 2)) || (verb == "add" && operands == 2) ||
            (verb == "delete" && operands == 2) || (verb == "list" && operands == 0);
  if (verb != "query" && verb != "add" && verb != "delete" && verb != "list") {
    return Usage(err, "unknown command '" + verb + "'");
  }
  if (!ok) return Usage(err, "wrong number of operands for '" + verb + "'");
  if (verb != "add" && (command.type || command.data)) {
    return Usage(err, "--type and --data belong to 'add'");
  }

  std::string key_path;
  if (operands >= 1) {
    key_path = KeyPathFromCommandLine(command.words[1]);
    std::string normalised;
    if (!NormaliseKeyPath(key_path, &normalised)) {
      return Usage(err, "bad key path '" + command.words[1] + "'");
    }
  }
  Tool tool(command.file_given ? Registry(command.file) : Registry(), out, err);

  if (verb == "query") {
    std::optional<std::string> name;
    if (operands == 2) name = command.words[2];
    return tool.Query(key_path, name);
  }
  if (verb == "delete") return tool.Delete(key_path, command.words[2]);
  if (verb == "list") return tool.List();

  uint32_t type = REG_SZ;
  if (command.type && !ParseRegType(*command.type, &type)) {
    return BadInput(err,
                    "unknown type '" + *command.type + "' (use REG_SZ, REG_DWORD or REG_BINARY)");
  }
  if (!command.data) return Usage(err, "'add' needs --data");
  std::string bytes;
  if (!ParseRegData(type, *command.data, &bytes, &error)) {
    return BadInput(err, "bad data '" + *command.data + "': " + error);
  }
  return tool.Add(key_path, command.words[2], type, bytes);
}

}  // namespace vqscw
