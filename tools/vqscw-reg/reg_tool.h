// vqscw-reg: the administrator's view of the machine's registry (vqscwlib/platform/registry.h).
// It is how a machine gets the launcher's "Version" and "ACL" and the sound driver's "INIP", and
// how a user inspects what the selector stored.
//
//   vqscw-reg [--file PATH] query KEY [VALUE]
//   vqscw-reg [--file PATH] add KEY VALUE [--type REG_SZ|REG_DWORD|REG_BINARY] --data D
//   vqscw-reg [--file PATH] delete KEY VALUE
//   vqscw-reg [--file PATH] list
#ifndef TOOLS_VQSCW_REG_REG_TOOL_H_
#define TOOLS_VQSCW_REG_REG_TOOL_H_

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "vqscwlib/platform/registry.h"

namespace vqscw {

// Exit statuses.
inline constexpr int kRegToolOk = 0;
inline constexpr int kRegToolNotFound = 1;  // the key or the value does not exist
inline constexpr int kRegToolUsage = 2;     // bad command line, type or data
inline constexpr int kRegToolBadRegistry =
    3;  // the file is damaged or unreadable, or a write failed

// Runs one command line (without the program name). Results go to `out`, messages to `err`.
int RunRegTool(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// Parses a type name ("REG_SZ", "REG_DWORD", "REG_BINARY", any case). False for another name.
bool ParseRegType(std::string_view name, uint32_t* type);

// The name of a type: "REG_SZ", ..., or "type N" for a type without a name.
std::string RegTypeName(uint32_t type);

// Turns the text given for a value into its bytes: REG_SZ as it is; REG_DWORD a number from
// -2147483648 to 4294967295, decimal or 0x hexadecimal (stored as its 32-bit pattern); REG_BINARY
// hexadecimal byte pairs, optionally separated by spaces, '-' or ':'. On bad text returns false
// with *error saying what is expected.
bool ParseRegData(uint32_t type, std::string_view text, std::string* bytes, std::string* error);

// A value's bytes as one line of text: REG_SZ as text with control bytes escaped as \xNN,
// REG_DWORD as "0x0302010a (50462986)", anything else as hexadecimal byte pairs.
std::string FormatRegData(uint32_t type, std::string_view bytes);

// A key path as typed by a person: '/' stands for '\', and a leading "HKEY_LOCAL_MACHINE\" or
// "HKLM\" is dropped.
std::string KeyPathFromCommandLine(std::string_view text);

}  // namespace vqscw

#endif  // TOOLS_VQSCW_REG_REG_TOOL_H_
