#pragma once
#include <cstddef>
#include <string_view>

namespace qm {

// Why a page's text may be written by its scripts, as the static page shows it.
enum class TScriptSign {
  None,
  // An inline script mentions what writes contacts: mailto, "@", 邮箱, fromCharCode, atob,
  // document.write.
  ContactScript,
  // An element a script application mounts on (id app, root, __next, __nuxt) is empty.
  EmptyApplicationRoot,
  // Scripts, and almost no visible text beside them.
  AlmostNoText,
};

// Visible text below this, with a script on the page, is almost none.
inline constexpr size_t kAlmostNoTextBytes = 200;

// The first sign found in one pass over the page (UTF-8 HTML), in time linear in its length.
TScriptSign FindScriptSign(std::string_view html);

const char* ScriptSignName(TScriptSign sign);

}  // namespace qm
