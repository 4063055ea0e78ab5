#include "tools/common/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#ifndef VQSCW_VERSION
#error "VQSCW_VERSION must name the project's version"
#endif

namespace vqscw::tools {

const CLI::Validator kWholeNumber(
    [](std::string& text) {
      const bool digits = !text.empty() && std::all_of(text.begin(), text.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
      if (!digits) return "'" + text + "' is not a whole number";
      if (text.size() > 1 && text[0] == '0') {
        return "'" + text + "' is not a whole number without leading zeros";
      }
      return std::string();
    },
    "");

const CLI::Validator kNotEmpty(
    [](std::string& text) {
      return text.empty() ? std::string("must not be empty") : std::string();
    },
    "");

bool ReadNumber(const std::string& text, uint64_t max, uint64_t* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  uint64_t result = 0;
  const auto [end, failure] = std::from_chars(first, last, result, hex ? 16 : 10);
  if (failure != std::errc() || end != last || result > max) return false;
  *value = result;
  return true;
}

CLI::Validator NumberFrom(uint64_t min, uint64_t max) {
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& text) {
        uint64_t value = 0;
        if (!ReadNumber(text, max, &value) || value < min) {
          return "'" + text + "' is not a number from " + range;
        }
        text = std::to_string(value);
        return std::string();
      },
      range);
}

void AddVersionFlag(CLI::App& app) {
  app.set_version_flag("--version", app.get_name() + " " VQSCW_VERSION,
                       "print the version and exit");
}

CommandLineOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                                    std::string* message) {
  // CLI11 reads "--name=" as "--name" without a value, and would take the next argument for it:
  // it is "--name" with an empty value.
  std::vector<std::string> reversed;  // CLI11 takes them last first
  for (auto arg = args.rbegin(); arg != args.rend(); ++arg) {
    if (arg->size() > 3 && arg->compare(0, 2, "--") == 0 && arg->find('=') == arg->size() - 1) {
      reversed.emplace_back();
      reversed.push_back(arg->substr(0, arg->size() - 1));
    } else {
      reversed.push_back(*arg);
    }
  }
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    *message = app.help();
    return CommandLineOutcome::kHelp;
  } catch (const CLI::CallForAllHelp&) {
    *message = app.help("", CLI::AppFormatMode::All);
    return CommandLineOutcome::kHelp;
  } catch (const CLI::CallForVersion& version) {
    *message = std::string(version.what()) + "\n";
    return CommandLineOutcome::kVersion;
  } catch (const CLI::ParseError& error) {
    *message = error.what();
    return CommandLineOutcome::kBadArguments;
  }
  return CommandLineOutcome::kRun;
}

int ReportCommandLine(const std::string& program, CommandLineOutcome outcome,
                      const std::string& message) {
  switch (outcome) {
    case CommandLineOutcome::kHelp:
    case CommandLineOutcome::kVersion:
      std::fputs(message.c_str(), stdout);
      return 0;
    case CommandLineOutcome::kBadArguments:
      std::fprintf(stderr, "%s: %s\nTry %s --help.\n", program.c_str(), message.c_str(),
                   program.c_str());
      return kExitUsage;
    case CommandLineOutcome::kRun:
      break;
  }
  return -1;
}

}  // namespace vqscw::tools
