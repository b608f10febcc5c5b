#include "persistence/settings_file.h"

#include <array>

#include "engine/main_form.h"
#include "persistence/ini_file.h"
#include "text/cp936.h"
#include "text/program_location.h"
#include "text/trim.h"

namespace qm {

std::string SettingsFileName(const std::string& programPath) {
  std::string name = AsciiLower(FileNameOf(programPath));
  // A leading dot starts a hidden name, not an extension.
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name + ".ini";
}

TSettingsRecord ReadSettingsFile(const std::string& path, const TSettingsRecord& defaults) {
  const TIniText ini = TIniFile(path).Snapshot();
  TSettingsRecord record;
  record.UrlAdd = ini.ReadString(kSettingsSection, "urladd", defaults.UrlAdd);
  record.Process = ini.ReadInteger(kSettingsSection, "process", defaults.Process);
  record.Total = ini.ReadInteger(kSettingsSection, "total", defaults.Total);
  record.Thread = ini.ReadInteger(kSettingsSection, "thread", defaults.Thread);
  record.IfEml = ini.ReadInteger(kSettingsSection, "ifeml", defaults.IfEml);
  record.IfPhone = ini.ReadInteger(kSettingsSection, "ifphone", defaults.IfPhone);
  record.IfQQ = ini.ReadInteger(kSettingsSection, "ifqq", defaults.IfQQ);
  record.Redirect = ini.ReadInteger(kSettingsSection, "redirect", defaults.Redirect);
  record.Extended = ini.ReadInteger(kSettingsSection, "extended", defaults.Extended);
  record.Unique = ini.ReadInteger(kSettingsSection, "unique", defaults.Unique);
  record.InFlight = ini.ReadInteger(kSettingsSection, "inflight", defaults.InFlight);
  record.Depth = ini.ReadInteger(kSettingsSection, "depth", defaults.Depth);
  record.PageLimit = ini.ReadInteger(kSettingsSection, "pagelimit", defaults.PageLimit);
  record.Robots = ini.ReadInteger(kSettingsSection, "robots", defaults.Robots);
  record.MemoryLimit = ini.ReadInteger(kSettingsSection, "memlimit", defaults.MemoryLimit);
  record.NewOnly = ini.ReadInteger(kSettingsSection, "newonly", defaults.NewOnly);
  record.KeepAlive = ini.ReadInteger(kSettingsSection, "keepalive", defaults.KeepAlive);
  record.HostLimit = ini.ReadInteger(kSettingsSection, "hostlimit", defaults.HostLimit);
  record.Timeout = ini.ReadInteger(kSettingsSection, "timeout", defaults.Timeout);
  record.UserAgent = ini.ReadString(kSettingsSection, "useragent", defaults.UserAgent);
  record.Render = ini.ReadInteger(kSettingsSection, "render", defaults.Render);
  record.IfWeChat = ini.ReadInteger(kSettingsSection, "ifwechat", defaults.IfWeChat);
  record.IfTel = ini.ReadInteger(kSettingsSection, "iftel", defaults.IfTel);
  record.Verify = ini.ReadInteger(kSettingsSection, "verify", defaults.Verify);
  record.ValidOnly = ini.ReadInteger(kSettingsSection, "validonly", defaults.ValidOnly);
  return record;
}

void WriteSettingsFile(const std::string& path, const TSettingsRecord& record) {
  const std::array<TIniEntry, 25> entries{{
      {"urladd", record.UrlAdd},
      {"process", std::to_string(record.Process)},
      {"total", std::to_string(record.Total)},
      {"thread", std::to_string(record.Thread)},
      {"ifeml", std::to_string(record.IfEml)},
      {"ifphone", std::to_string(record.IfPhone)},
      {"ifqq", std::to_string(record.IfQQ)},
      {"redirect", std::to_string(record.Redirect)},
      {"extended", std::to_string(record.Extended)},
      {"unique", std::to_string(record.Unique)},
      {"inflight", std::to_string(record.InFlight)},
      {"depth", std::to_string(record.Depth)},
      {"pagelimit", std::to_string(record.PageLimit)},
      {"robots", std::to_string(record.Robots)},
      {"memlimit", std::to_string(record.MemoryLimit)},
      {"newonly", std::to_string(record.NewOnly)},
      {"keepalive", std::to_string(record.KeepAlive)},
      {"hostlimit", std::to_string(record.HostLimit)},
      {"timeout", std::to_string(record.Timeout)},
      {"useragent", record.UserAgent},
      {"render", std::to_string(record.Render)},
      {"ifwechat", std::to_string(record.IfWeChat)},
      {"iftel", std::to_string(record.IfTel)},
      {"verify", std::to_string(record.Verify)},
      {"validonly", std::to_string(record.ValidOnly)},
  }};
  TIniFile(path).WriteEntries(kSettingsSection, entries);
}

void LoadSettings(TForm1& form, const TSettingsRecord& defaults) {
  const TSettingsRecord record = ReadSettingsFile(form.SettingsFilePath(), defaults);
  form.Edit5.SetText(Cp936ToUtf8(record.UrlAdd));
  form.SearchState.UrlCounter.store(record.Process);
  form.SearchState.SearchedLines.store(-1);
  form.SearchState.UrlTotal.store(record.Total);
  form.SpinEdit1.SetValue(record.Thread);
  form.CheckBox2.SetChecked(SwitchChecked(record.IfEml));
  form.CheckBox3.SetChecked(SwitchChecked(record.IfPhone));
  form.CheckBox4.SetChecked(SwitchChecked(record.IfQQ));
  form.CheckBoxRedirects.SetChecked(SwitchChecked(record.Redirect));
  form.CheckBoxExtended.SetChecked(SwitchChecked(record.Extended));
  form.CheckBoxUnique.SetChecked(SwitchChecked(record.Unique));
  form.SpinEditInFlight.SetValue(record.InFlight);
  form.SpinEditDepth.SetValue(record.Depth);
  form.SpinEditPageLimit.SetValue(record.PageLimit);
  form.CheckBoxRobots.SetChecked(SwitchChecked(record.Robots));
  form.SpinEditMemoryLimit.SetValue(record.MemoryLimit);
  form.CheckBoxNewOnly.SetChecked(SwitchChecked(record.NewOnly));
  form.CheckBoxKeepAlive.SetChecked(SwitchChecked(record.KeepAlive));
  form.SpinEditHostLimit.SetValue(record.HostLimit);
  form.SpinEditTimeout.SetValue(record.Timeout);
  form.EditUserAgent.SetText(Cp936ToUtf8(record.UserAgent));
  form.CheckBoxRender.SetChecked(record.Render < 0 ? !FindHeadlessBrowser().empty()
                                                   : SwitchChecked(record.Render));
  form.CheckBoxWeChat.SetChecked(SwitchChecked(record.IfWeChat));
  form.CheckBoxPhone.SetChecked(SwitchChecked(record.IfTel));
  form.CheckBoxVerify.SetChecked(SwitchChecked(record.Verify));
  form.CheckBoxValidOnly.SetChecked(SwitchChecked(record.ValidOnly));
}

TSettingsRecord CurrentSettings(const TForm1& form) {
  TSettingsRecord record;
  record.UrlAdd = Utf8ToCp936(form.Edit5.Text());
  record.Process = form.SearchState.SavedPosition();
  record.Total = form.SearchState.UrlTotal.load();
  record.Thread = form.SpinEdit1.Value();
  record.IfEml = form.CheckBox2.Checked() ? 1 : 0;
  record.IfPhone = form.CheckBox3.Checked() ? 1 : 0;
  record.IfQQ = form.CheckBox4.Checked() ? 1 : 0;
  record.Redirect = form.CheckBoxRedirects.Checked() ? 1 : 0;
  record.Extended = form.CheckBoxExtended.Checked() ? 1 : 0;
  record.Unique = form.CheckBoxUnique.Checked() ? 1 : 0;
  record.InFlight = form.SpinEditInFlight.Value();
  record.Depth = form.SpinEditDepth.Value();
  record.PageLimit = form.SpinEditPageLimit.Value();
  record.Robots = form.CheckBoxRobots.Checked() ? 1 : 0;
  record.MemoryLimit = form.SpinEditMemoryLimit.Value();
  record.NewOnly = form.CheckBoxNewOnly.Checked() ? 1 : 0;
  record.KeepAlive = form.CheckBoxKeepAlive.Checked() ? 1 : 0;
  record.HostLimit = form.SpinEditHostLimit.Value();
  record.Timeout = form.SpinEditTimeout.Value();
  record.UserAgent = Utf8ToCp936(form.EditUserAgent.Text());
  record.Render = form.CheckBoxRender.Checked() ? 1 : 0;
  record.IfWeChat = form.CheckBoxWeChat.Checked() ? 1 : 0;
  record.IfTel = form.CheckBoxPhone.Checked() ? 1 : 0;
  record.Verify = form.CheckBoxVerify.Checked() ? 1 : 0;
  record.ValidOnly = form.CheckBoxValidOnly.Checked() ? 1 : 0;
  return record;
}

}  // namespace qm
