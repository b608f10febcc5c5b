#pragma once
// The harvest settings a job is submitted with, kept with the job as text so that every
// machine works its lines alike.
#include <cstdint>
#include <string>

namespace qm {

struct TJobSettings {
  bool Email = true;
  bool Mobile = false;
  bool QQ = false;
  bool WeChat = false;
  bool Phone = false;
  bool Redirects = true;
  bool Extended = true;
  bool Unique = true;
  int32_t Depth = 1;
  int32_t PageLimit = 20;
  bool Robots = true;
};

std::string JobSettingsText(const TJobSettings& settings);
// Throws EJobError for a key or value this program does not know: a job submitted by a
// newer program is not worked with settings half understood.
TJobSettings ParseJobSettings(const std::string& text, int64_t job);

}  // namespace qm
