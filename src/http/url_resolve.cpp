#include "http/url_resolve.h"

namespace qm {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
bool IsScheme(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text.front())) return false;
  for (char c : text) {
    if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return true;
}

}  // namespace

TUriReference ParseUriReference(std::string_view text) {
  TUriReference parts;
  const size_t fragment = text.find('#');
  if (fragment != std::string_view::npos) {
    parts.Fragment = std::string(text.substr(fragment + 1));
    text = text.substr(0, fragment);
  }
  const size_t query = text.find('?');
  if (query != std::string_view::npos) {
    parts.Query = std::string(text.substr(query + 1));
    text = text.substr(0, query);
  }
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos && IsScheme(text.substr(0, colon))) {
    parts.Scheme = std::string(text.substr(0, colon));
    text = text.substr(colon + 1);
  }
  if (text.substr(0, 2) == "//") {
    text = text.substr(2);
    const size_t slash = text.find('/');
    parts.Authority = std::string(text.substr(0, slash));
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  }
  parts.Path = std::string(text);
  return parts;
}

std::string ComposeUriReference(const TUriReference& reference) {
  std::string out;
  if (reference.Scheme) out += *reference.Scheme + ":";
  if (reference.Authority) out += "//" + *reference.Authority;
  out += reference.Path;
  if (reference.Query) out += "?" + *reference.Query;
  if (reference.Fragment) out += "#" + *reference.Fragment;
  return out;
}

std::string RemoveDotSegments(std::string_view path) {
  std::string output;
  while (!path.empty()) {
    if (path.substr(0, 3) == "../") {
      path.remove_prefix(3);
    } else if (path.substr(0, 2) == "./") {
      path.remove_prefix(2);
    } else if (path.substr(0, 3) == "/./") {
      path.remove_prefix(2);
    } else if (path == "/.") {
      path = "/";
    } else if (path.substr(0, 4) == "/../" || path == "/..") {
      path = path.size() == 3 ? std::string_view("/") : path.substr(3);
      const size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (path == "." || path == "..") {
      path = {};
    } else {
      // The first segment, with its leading "/" if any, moves to the output.
      const size_t next = path.find('/', 1);
      const size_t length = next == std::string_view::npos ? path.size() : next;
      output.append(path.substr(0, length));
      path.remove_prefix(length);
    }
  }
  return output;
}

namespace {

std::string MergePaths(const TUriReference& base, std::string_view referencePath) {
  if (base.Authority && base.Path.empty()) return "/" + std::string(referencePath);
  const size_t last = base.Path.rfind('/');
  if (last == std::string::npos) return std::string(referencePath);
  return base.Path.substr(0, last + 1) + std::string(referencePath);
}

}  // namespace

std::string ResolveReference(std::string_view baseText, std::string_view referenceText) {
  const TUriReference base = ParseUriReference(baseText);
  const TUriReference reference = ParseUriReference(referenceText);
  TUriReference target;
  if (reference.Scheme) {
    target = reference;
    target.Path = RemoveDotSegments(reference.Path);
  } else {
    if (reference.Authority) {
      target.Authority = reference.Authority;
      target.Path = RemoveDotSegments(reference.Path);
      target.Query = reference.Query;
    } else {
      if (reference.Path.empty()) {
        target.Path = base.Path;
        target.Query = reference.Query ? reference.Query : base.Query;
      } else {
        target.Path = reference.Path.front() == '/'
                          ? RemoveDotSegments(reference.Path)
                          : RemoveDotSegments(MergePaths(base, reference.Path));
        target.Query = reference.Query;
      }
      target.Authority = base.Authority;
    }
    target.Scheme = base.Scheme;
  }
  target.Fragment = reference.Fragment;
  return ComposeUriReference(target);
}

std::string WithoutUserInfo(const std::string& address) {
  TUriReference parts = ParseUriReference(address);
  if (!parts.Authority) return address;
  const size_t at = parts.Authority->rfind('@');
  if (at == std::string::npos) return address;
  parts.Authority->erase(0, at + 1);
  return ComposeUriReference(parts);
}

}  // namespace qm
