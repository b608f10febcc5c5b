#pragma once
// The options and operands of one subcommand.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::cli {

// A command line that does not fit its subcommand; the message is one line.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::set<std::string> Flags;   // "--email"
  std::set<std::string> Valued;  // "--threads" (as "--threads N" or "--threads=N")
};

class ParsedCommand {
 public:
  bool Has(const std::string& flag) const { return flags_.count(flag) != 0; }
  std::optional<std::string> Value(const std::string& option) const;
  const std::vector<std::string>& Operands() const { return operands_; }

 private:
  friend ParsedCommand ParseCommand(const std::vector<std::string>& args, const OptionSpec& known);
  std::set<std::string> flags_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> operands_;
};

// "-" is an operand; "--" ends the options. Throws UsageError for an unknown option, a
// missing value or a value given to a flag. A repeated valued option keeps its last value.
ParsedCommand ParseCommand(const std::vector<std::string>& args, const OptionSpec& known);

// A numeric option's value: decimal digits alone, from `least` to `most`; `fallback` when
// the option is not given. Throws UsageError naming the option and its range otherwise.
int32_t NumberOption(const ParsedCommand& parsed, const std::string& option, int32_t least,
                     int32_t most, int32_t fallback);

}  // namespace qm::cli
