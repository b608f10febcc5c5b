#include "cli/command_line.h"

#include <charconv>

namespace qm::cli {

std::optional<std::string> ParsedCommand::Value(const std::string& option) const {
  const auto found = values_.find(option);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

ParsedCommand ParseCommand(const std::vector<std::string>& args, const OptionSpec& known) {
  ParsedCommand parsed;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (known.Flags.count(name)) {
      if (equals != std::string::npos) throw UsageError("option " + name + " takes no value");
      parsed.flags_.insert(name);
    } else if (known.Valued.count(name)) {
      if (equals != std::string::npos) {
        parsed.values_[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        parsed.values_[name] = args[++i];
      } else {
        throw UsageError("option " + name + " needs a value");
      }
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  return parsed;
}

int32_t NumberOption(const ParsedCommand& parsed, const std::string& option, int32_t least,
                     int32_t most, int32_t fallback) {
  const std::optional<std::string> text = parsed.Value(option);
  if (!text) return fallback;
  int64_t value = 0;
  const char* const end = text->data() + text->size();
  // Digits alone: no sign, blank or hexadecimal form slips through as some other number.
  const bool digits = !text->empty() && text->find_first_not_of("0123456789") == std::string::npos;
  const std::from_chars_result read = std::from_chars(text->data(), end, value);
  if (!digits || read.ec != std::errc() || read.ptr != end || value < least || value > most) {
    throw UsageError("option " + option + " takes a whole number from " + std::to_string(least) +
                     " to " + std::to_string(most) + ", not '" + *text + "'");
  }
  return static_cast<int32_t>(value);
}

}  // namespace qm::cli
