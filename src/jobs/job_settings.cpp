#include "jobs/job_settings.h"

#include <sstream>
#include <string_view>

#include "jobs/job_queue.h"

namespace qm {
namespace {

const char* Flag(bool on) {
  return on ? "1" : "0";
}

}  // namespace

std::string JobSettingsText(const TJobSettings& s) {
  return std::string("email=") + Flag(s.Email) + " mobile=" + Flag(s.Mobile) + " qq=" + Flag(s.QQ) +
         " wechat=" + Flag(s.WeChat) + " phone=" + Flag(s.Phone) +
         " redirects=" + Flag(s.Redirects) + " extended=" + Flag(s.Extended) +
         " unique=" + Flag(s.Unique) + " depth=" + std::to_string(s.Depth) +
         " pagelimit=" + std::to_string(s.PageLimit) + " robots=" + Flag(s.Robots);
}

TJobSettings ParseJobSettings(const std::string& text, int64_t job) {
  TJobSettings settings;
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    const size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    auto unknown = [&] {
      return EJobError("job " + std::to_string(job) +
                       " was submitted by a newer program: its setting '" + word +
                       "' is unknown here; update qmharvest on this machine");
    };
    auto flag = [&](bool& field) {
      if (value != "0" && value != "1") throw unknown();
      field = value == "1";
    };
    auto number = [&](int32_t& field, int32_t least, int32_t most) {
      if (value.empty() || value.size() > 6 ||
          value.find_first_not_of("0123456789") != std::string::npos) {
        throw unknown();
      }
      const int32_t read = std::stoi(value);
      if (read < least || read > most) throw unknown();
      field = read;
    };
    if (key == "email") {
      flag(settings.Email);
    } else if (key == "mobile") {
      flag(settings.Mobile);
    } else if (key == "qq") {
      flag(settings.QQ);
    } else if (key == "wechat") {
      flag(settings.WeChat);
    } else if (key == "phone") {
      flag(settings.Phone);
    } else if (key == "redirects") {
      flag(settings.Redirects);
    } else if (key == "extended") {
      flag(settings.Extended);
    } else if (key == "unique") {
      flag(settings.Unique);
    } else if (key == "robots") {
      flag(settings.Robots);
    } else if (key == "depth") {
      number(settings.Depth, 0, 3);
    } else if (key == "pagelimit") {
      number(settings.PageLimit, 1, 1000);
    } else {
      throw unknown();
    }
  }
  return settings;
}

}  // namespace qm
