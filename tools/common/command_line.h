// Command lines of the tools: each tool describes its options once, in a CLI11 table, and this
// reads the arguments against it. Every tool takes --help and --version, and a bad argument is
// one line naming the option, then exit code 2.
#ifndef TOOLS_COMMON_COMMAND_LINE_H_
#define TOOLS_COMMON_COMMAND_LINE_H_

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace vqscw::tools {

// The exit code of a tool given arguments it cannot use.
constexpr int kExitUsage = 2;

enum class CommandLineOutcome { kRun, kHelp, kVersion, kBadArguments };

// Adds --version to the table of a tool (CLI11 gives every table --help). The table's name is the
// program's ("vqscw-spy"): CLI::App app(description, "vqscw-spy").
void AddVersionFlag(CLI::App& app);

// Reads `args` (without the program name) into the options of `app`. kHelp and kVersion put the
// text to print in *message, kBadArguments a one-line reason.
CommandLineOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                                    std::string* message);

// What main does with an outcome: prints the help or the version on stdout and returns 0, prints
// "PROGRAM: REASON" and a hint on stderr and returns kExitUsage, or returns -1 for kRun.
int ReportCommandLine(const std::string& program, CommandLineOutcome outcome,
                      const std::string& message);

// Checks for option values: digits only (no sign, fraction or space), and a text that is not empty.
// kWholeNumber refuses leading zeros, which CLI11 would read as octal ("010" as 8).
extern const CLI::Validator kWholeNumber;
extern const CLI::Validator kNotEmpty;

// `text` as a number no larger than `max`: decimal digits, or hexadecimal digits after "0x" or
// "0X"; nothing else (no sign, space or trailing character).
bool ReadNumber(const std::string& text, uint64_t max, uint64_t* value);

// A check of an option's value: a number from `min` to `max` in ReadNumber's forms. Give it with
// transform(), not check(): it hands the value on in decimal, which CLI11 then reads without a
// guess at the base ("010" is 10). Its failure says "'TEXT' is not a number from MIN to MAX".
CLI::Validator NumberFrom(uint64_t min, uint64_t max);

}  // namespace vqscw::tools

#endif  // TOOLS_COMMON_COMMAND_LINE_H_
