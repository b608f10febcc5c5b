// E-mail addresses as pages write them.
#include <array>

#include "contacts/contact_chars.h"
#include "contacts/contact_text.h"
#include "contacts/extended_contacts.h"
#include "text/integer_syntax.h"

namespace qm {
namespace {

using namespace contact_chars;

// Extensions of files whose names carry an "@" (logo@2x.png, icons@3x.webp): none is a
// top-level domain.
constexpr std::array<std::string_view, 27> kFileExtensions = {
    "png",  "jpg",  "jpeg", "gif", "webp", "svg",  "bmp",  "ico", "tif",
    "tiff", "avif", "heic", "css", "scss", "sass", "less", "js",  "mjs",
    "cjs",  "ts",   "jsx",  "tsx", "map",  "json", "woff", "ttf", "otf"};

bool IsFileExtension(std::string_view label) {
  for (std::string_view extension : kFileExtensions) {
    if (label.size() == extension.size() && StartsWithFolded(label, extension)) return true;
  }
  return StartsWithFolded(label, "eot") && label.size() == 3;
}

bool ValidTopLabel(std::string_view label) {
  if (StartsWithFolded(label, "xn--")) return label.size() > 4;
  if (label.size() < 2 || label.size() > 24) return false;
  for (char c : label) {
    if (!IsLetter(c)) return false;
  }
  return !IsFileExtension(label);
}

bool ValidDomain(std::string_view domain) {
  if (domain.size() > 253) return false;
  size_t labels = 0;
  for (size_t begin = 0;;) {
    size_t end = domain.find('.', begin);
    const bool last = end == std::string_view::npos;
    if (last) end = domain.size();
    const std::string_view label = domain.substr(begin, end - begin);
    if (label.empty() || label.size() > 63 || !IsAlnum(label.front()) || !IsAlnum(label.back())) {
      return false;
    }
    for (char c : label) {
      if (!IsAlnum(c) && c != '-') return false;
    }
    ++labels;
    if (last) return labels >= 2 && ValidTopLabel(label);
    begin = end + 1;
  }
}

bool ValidLocal(std::string_view local) {
  if (local.empty() || local.size() > 64 || local.front() == '.' || local.back() == '.') {
    return false;
  }
  for (char c : local) {
    if (!IsLocal(c)) return false;
  }
  return local.find("..") == std::string_view::npos;
}

// The longest address CanonicalEmail gives.
constexpr size_t kLongestAddress = 64 + 1 + 253;

// CanonicalEmail written into `out`; its length, or 0.
size_t WriteCanonicalEmail(std::string_view local, std::string_view domain,
                           char (&out)[kLongestAddress]) {
  if (!ValidLocal(local) || !ValidDomain(domain)) return 0;
  size_t length = 0;
  for (char c : local) out[length++] = AsciiLower(c);
  out[length++] = '@';
  for (char c : domain) out[length++] = AsciiLower(c);
  return length;
}

void Accept(std::string_view local, std::string_view domain, TResultList& emails,
            std::string_view source) {
  char address[kLongestAddress];
  if (const size_t length = WriteCanonicalEmail(local, domain, address); length != 0) {
    emails.AcceptCandidate(std::string_view(address, length), {}, source);
  }
}

void AcceptAddress(std::string_view address, TResultList& emails, std::string_view source) {
  const size_t at = address.find('@');
  if (at != std::string_view::npos) {
    Accept(address.substr(0, at), address.substr(at + 1), emails, source);
  }
}

// "name#domain.com (把#换成@)": the page asks the reader to put "@" for "#".
bool AsksForAtInsteadOfHash(std::string_view plain) {
  for (size_t huan = plain.find(kHuanChar); huan != std::string_view::npos;
       huan = plain.find(kHuanChar, huan + 1)) {
    if (plain.substr(huan + 1, 4).find('@') != std::string_view::npos) return true;
  }
  return false;
}

void ScanAtSigns(std::string_view plain, char sign, TResultList& emails, std::string_view source) {
  size_t from = 0;
  for (size_t at = plain.find(sign); at != std::string_view::npos; at = plain.find(sign, from)) {
    size_t begin = at;
    while (begin > 0 && IsLocal(plain[begin - 1])) --begin;
    while (begin < at && (plain[begin] == '.' || plain[begin] == '-' || plain[begin] == '+')) {
      ++begin;
    }
    size_t end = at + 1;
    while (end < plain.size() && IsDomain(plain[end])) ++end;
    from = end;
    while (end > at + 1 && (plain[end - 1] == '.' || plain[end - 1] == '-')) --end;
    Accept(plain.substr(begin, at - begin), plain.substr(at + 1, end - at - 1), emails, source);
  }
}

// data-cfemail="HEX" and links to /cdn-cgi/l/email-protection#HEX.
void ScanProtected(std::string_view plain, TResultList& emails, std::string_view source) {
  for (std::string_view marker :
       {std::string_view("data-cfemail="), std::string_view("email-protection#")}) {
    for (size_t pos = plain.find(marker); pos != std::string_view::npos;
         pos = plain.find(marker, pos + 1)) {
      size_t begin = pos + marker.size();
      if (begin < plain.size() && (plain[begin] == '"' || plain[begin] == '\'')) ++begin;
      size_t end = begin;
      while (end < plain.size() && HexDigitValue(plain[end]) >= 0) ++end;
      AcceptAddress(DecodeProtectedEmail(plain.substr(begin, end - begin)), emails, source);
    }
  }
}

// Both markers hold a "-", which markup holds far less often than an "e": one pass over
// the hyphens looks for both.
bool HoldsProtectionMarker(std::string_view plain) {
  for (size_t hyphen = plain.find('-'); hyphen != std::string_view::npos;
       hyphen = plain.find('-', hyphen + 1)) {
    const std::string_view rest = plain.substr(hyphen + 1);
    if (rest.starts_with("cfemail=") || rest.starts_with("protection#")) return true;
  }
  return false;
}

}  // namespace

std::string CanonicalEmail(std::string_view local, std::string_view domain) {
  char address[kLongestAddress];
  return std::string(address, WriteCanonicalEmail(local, domain, address));
}

std::string DecodeProtectedEmail(std::string_view hex) {
  if (hex.size() < 4 || hex.size() % 2 != 0 || hex.size() > 2 * 256) return {};
  if (HexDigitValue(hex[0]) < 0 || HexDigitValue(hex[1]) < 0) return {};
  const int key = HexDigitValue(hex[0]) << 4 | HexDigitValue(hex[1]);
  std::string text;
  for (size_t i = 2; i < hex.size(); i += 2) {
    const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) return {};
    const char c = static_cast<char>((high << 4 | low) ^ key);
    if (!IsLocal(c) && c != '@') return {};
    text.push_back(c);
  }
  return text;
}

void ExtractEmailsExtended(std::string_view plain, TResultList& emails, std::string_view source) {
  if (plain.find('@') != std::string_view::npos) ScanAtSigns(plain, '@', emails, source);
  if (plain.find('#') != std::string_view::npos && AsksForAtInsteadOfHash(plain)) {
    ScanAtSigns(plain, '#', emails, source);
  }
  if (HoldsProtectionMarker(plain)) ScanProtected(plain, emails, source);
}

}  // namespace qm
