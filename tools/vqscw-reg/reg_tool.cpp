#include "tools/vqscw-reg/reg_tool.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "tools/common/command_line.h"
#include "vqscwlib/platform/sound_driver.h"

namespace vqscw {

namespace {

using tools::AddVersionFlag;
using tools::CommandLineOutcome;
using tools::kNotEmpty;
using tools::ParseCommandLine;

constexpr char kProgram[] = "vqscw-reg";
constexpr char kValueIndent[] = "    ";
constexpr char kColumnGap[] = "    ";
constexpr char kUnnamedValue[] = "(unnamed)";

constexpr char kDescription[] =
    "vqscw-reg: reads and writes the machine's registry, where the launcher finds its \"Version\" "
    "and \"ACL\", the sound driver its \"INIP\", and the selector keeps what it stores.";

constexpr char kFooter[] =
    "KEY is a backslash path; quote it for the shell, e.g.\n"
    "  vqscw-reg add 'SOFTWARE\\Orvane Systems\\Pelmar Tunely' Version --data 3.0\n"
    "  vqscw-reg add 'System\\CurrentControlSet\\Services\\sndport\\Parameters' INIP"
    " --data 10.1.2.3\n"
    "'/' may stand for '\\'; a leading HKEY_LOCAL_MACHINE\\ or HKLM\\ is ignored. Each command "
    "takes --help.\n"
    "The registry file is --file, else $VQSCW_REGISTRY, else"
    " ${XDG_CONFIG_HOME:-$HOME/.config}/vqscw/registry.db.\n"
    "Exit status: 0 done; 1 key or value not found; 2 bad command line, type or data, or a --file "
    "in a folder that does not exist; 3 registry file damaged or unreadable, or the write failed.";

// What the command line asks for.
struct Command {
  std::string file;
  std::string verb;
  std::string key;
  std::optional<std::string> value;
  std::optional<std::string> type;
  std::string data;
};

// The option table: the commands, each with its operands, and --file for all of them. On kRun,
// *command holds what was asked.
CommandLineOutcome ParseRegCommandLine(std::span<const std::string> args, Command* command,
                                       std::string* message) {
  CLI::App app(kDescription, kProgram);
  AddVersionFlag(app);
  app.footer(kFooter);
  app.add_option("--file", command->file,
                 "the registry file; its folder must exist (the file is made when first written)")
      ->type_name("PATH")
      ->check(kNotEmpty);
  app.require_subcommand(1);
  std::string value;
  std::string type;
  struct Verb {
    std::string name;
    const char* description;
    bool needs_value;
  };
  for (const Verb& verb :
       {Verb{"query", "show VALUE of KEY, or every value of KEY", false},
        Verb{"add",
             "write VALUE of KEY (REG_SZ unless --type says otherwise), making KEY if it is not "
             "there",
             true},
        Verb{"delete", "remove VALUE from KEY", true},
        Verb{"list", "show every key and value", false}}) {
    CLI::App* sub = app.add_subcommand(verb.name, verb.description);
    sub->fallthrough();  // --file may come after the command
    if (verb.name == "list") continue;
    sub->add_option("KEY", command->key, "the key's path")->required();
    CLI::Option* operand =
        sub->add_option("VALUE", value, "the value's name ('' for the unnamed value)");
    if (verb.needs_value) operand->required();
    if (verb.name != "add") continue;
    sub->add_option("--type", type, "REG_SZ (the default), REG_DWORD or REG_BINARY");
    sub->add_option("--data", command->data,
                    "the value: REG_SZ text (that of \"INIP\" a dotted IPv4 address); REG_DWORD "
                    "a number from -2147483648 to 4294967295, decimal or 0x hexadecimal; "
                    "REG_BINARY hexadecimal byte pairs")
        ->required();
  }
  const std::vector<std::string> list(args.begin(), args.end());
  const CommandLineOutcome outcome = ParseCommandLine(app, list, message);
  if (outcome != CommandLineOutcome::kRun) return outcome;
  CLI::App* sub = app.get_subcommands().front();
  command->verb = sub->get_name();
  if (sub->get_option_no_throw("VALUE") != nullptr && sub->count("VALUE") > 0) {
    command->value = value;
  }
  if (sub->get_option_no_throw("--type") != nullptr && sub->count("--type") > 0) {
    command->type = type;
  }
  return CommandLineOutcome::kRun;
}

// Refuses a --file in a folder that does not exist, or one that is a folder itself.
bool CheckFile(const std::string& file, std::string* message) {
  namespace fs = std::filesystem;
  std::error_code failure;
  const fs::path path(file);
  if (fs::is_directory(path, failure)) {
    *message = "--file: " + file + " is a folder, not a registry file";
    return false;
  }
  const fs::path folder = path.parent_path();
  if (!folder.empty() && !fs::is_directory(folder, failure)) {
    *message = "--file: the folder " + folder.string() + " does not exist; make it first";
    return false;
  }
  return true;
}

bool IsDottedAddress(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
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

// A command line that cannot be run: the problem, then where the help is.
int Usage(std::ostream& err, const std::string& problem) {
  err << kProgram << ": " << problem << "\nTry " << kProgram << " --help.\n";
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
  std::string message;
  switch (ParseRegCommandLine(args, &command, &message)) {
    case CommandLineOutcome::kHelp:
    case CommandLineOutcome::kVersion:
      out << message;
      return kRegToolOk;
    case CommandLineOutcome::kBadArguments:
      return Usage(err, message);
    case CommandLineOutcome::kRun:
      break;
  }
  if (!command.file.empty() && !CheckFile(command.file, &message)) return Usage(err, message);

  std::string key_path;
  if (command.verb != "list") {
    key_path = KeyPathFromCommandLine(command.key);
    std::string normalised;
    if (!NormaliseKeyPath(key_path, &normalised)) {
      return Usage(err, "bad key path '" + command.key + "'");
    }
  }
  Tool tool(command.file.empty() ? Registry() : Registry(command.file), out, err);

  if (command.verb == "query") return tool.Query(key_path, command.value);
  if (command.verb == "delete") return tool.Delete(key_path, *command.value);
  if (command.verb == "list") return tool.List();

  uint32_t type = REG_SZ;
  if (command.type && !ParseRegType(*command.type, &type)) {
    return BadInput(err,
                    "unknown type '" + *command.type + "' (use REG_SZ, REG_DWORD or REG_BINARY)");
  }
  std::string bytes;
  std::string error;
  if (!ParseRegData(type, command.data, &bytes, &error)) {
    return BadInput(err, "bad data '" + command.data + "': " + error);
  }
  if (type == REG_SZ && SameName(*command.value, kDriverAddressValue) &&
      !IsDottedAddress(command.data)) {
    return BadInput(err, "bad data '" + command.data +
                             "': INIP must be a dotted IPv4 address, such as 10.1.2.3");
  }
  return tool.Add(key_path, *command.value, type, bytes);
}

}  // namespace vqscw
