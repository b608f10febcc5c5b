#pragma once
// The program's own fixed texts that several windows share.

namespace qm::shell {

inline constexpr const char* kApplicationTitle = "Quillmoth网页信息采集器 V2.0";

// The maker's addresses and contact number (window caption, tray menu, About dialog).
inline constexpr const char* kMakerHomePage = "http://www.brindle-soft.example/";
inline constexpr const char* kMakerSecondPage = "http://bbs.brindle-soft.example/";
inline constexpr const char* kMakerMail = "service@brindle-soft.example";
inline constexpr const char* kMakerQQ = "80012345";
inline constexpr const char* kMakerPhone = "010-00000000";

}  // namespace qm::shell
