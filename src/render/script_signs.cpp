#include "render/script_signs.h"

#include <array>

#include "crawl/html_tokens.h"
#include "text/trim.h"

namespace qm {
namespace {

constexpr std::array<std::string_view, 6> kContactScriptWords = {
    "mailto", "@", "邮箱", "fromcharcode", "atob", "document.write"};
constexpr std::array<std::string_view, 5> kApplicationRoots = {"app", "root", "__next", "__nuxt",
                                                               "q-app"};

// Case-insensitive for the ASCII words; a script's few kilobytes are looked at once each.
bool MentionsContactWriting(std::string_view script) {
  const std::string lower = AsciiLower(script);
  for (const std::string_view word : kContactScriptWords) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n\f") == std::string_view::npos;
}

size_t VisibleBytes(std::string_view text) {
  size_t count = 0;
  for (const char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f') ++count;
  }
  return count;
}

}  // namespace

TScriptSign FindScriptSign(std::string_view html) {
  THtmlTokenizer tokens(html, {"id", "src"});
  bool scripts = false;
  size_t visible = 0;
  // An application root just opened: empty when its end tag comes before any text or tag.
  bool rootOpen = false;
  bool inScript = false;
  for (EHtmlToken token = tokens.Next(); token != EHtmlToken::End; token = tokens.Next()) {
    switch (token) {
      case EHtmlToken::StartTag: {
        rootOpen = false;
        inScript = tokens.TagName() == "script";
        if (inScript) scripts = true;
        const std::optional<std::string_view> id = tokens.Attribute(0);
        if (id && !tokens.SelfClosing() && tokens.TagName() != "script") {
          const std::string name = AsciiLower(Trim(*id));
          for (const std::string_view root : kApplicationRoots) {
            if (name == root) rootOpen = true;
          }
        }
        break;
      }
      case EHtmlToken::EndTag:
        if (rootOpen) return TScriptSign::EmptyApplicationRoot;
        inScript = false;
        break;
      case EHtmlToken::RawText:
        if (inScript && MentionsContactWriting(tokens.Text())) return TScriptSign::ContactScript;
        break;
      case EHtmlToken::Text:
        if (!IsBlank(tokens.Text())) rootOpen = false;
        visible += VisibleBytes(tokens.Text());
        break;
      default:
        break;
    }
  }
  if (scripts && visible < kAlmostNoTextBytes) return TScriptSign::AlmostNoText;
  return TScriptSign::None;
}

const char* ScriptSignName(TScriptSign sign) {
  switch (sign) {
    case TScriptSign::ContactScript:
      return "a script writes contacts";
    case TScriptSign::EmptyApplicationRoot:
      return "an empty application root";
    case TScriptSign::AlmostNoText:
      return "almost no text beside scripts";
    case TScriptSign::None:
      break;
  }
  return "no sign of script-written text";
}

}  // namespace qm
