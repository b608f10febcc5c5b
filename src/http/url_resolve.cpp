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

TUriView ParseUriView(std::string_view text) {
  TUriView parts;
  const size_t fragment = text.find('#');
  if (fragment != std::string_view::npos) {
    parts.Fragment = text.substr(fragment + 1);
    text = text.substr(0, fragment);
  }
  const size_t query = text.find('?');
  if (query != std::string_view::npos) {
    parts.Query = text.substr(query + 1);
    text = text.substr(0, query);
  }
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos && IsScheme(text.substr(0, colon))) {
    parts.Scheme = text.substr(0, colon);
    text = text.substr(colon + 1);
  }
  if (text.substr(0, 2) == "//") {
    text = text.substr(2);
    const size_t slash = text.find('/');
    parts.Authority = text.substr(0, slash);
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  }
  parts.Path = text;
  return parts;
}

TUriReference ParseUriReference(std::string_view text) {
  const TUriView view = ParseUriView(text);
  const auto owned = [](const std::optional<std::string_view>& part) {
    return part ? std::optional<std::string>(std::in_place, *part) : std::nullopt;
  };
  return {owned(view.Scheme), owned(view.Authority), std::string(view.Path), owned(view.Query),
          owned(view.Fragment)};
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

using TPart = std::optional<std::string_view>;

std::string MergePaths(const TUriView& base, std::string_view referencePath) {
  if (base.Authority && base.Path.empty()) return "/" + std::string(referencePath);
  const size_t last = base.Path.rfind('/');
  if (last == std::string_view::npos) return std::string(referencePath);
  std::string merged(base.Path.substr(0, last + 1));
  merged += referencePath;
  return merged;
}

std::string Compose(TPart scheme, TPart authority, std::string_view path, TPart query,
                    TPart fragment) {
  std::string out;
  out.reserve((scheme ? scheme->size() + 1 : 0) + (authority ? authority->size() + 2 : 0) +
              path.size() + (query ? query->size() + 1 : 0) +
              (fragment ? fragment->size() + 1 : 0));
  if (scheme) out.append(*scheme).push_back(':');
  if (authority) out.append("//").append(*authority);
  out += path;
  if (query) out.append("?").append(*query);
  if (fragment) out.append("#").append(*fragment);
  return out;
}

}  // namespace

std::string ResolveReference(std::string_view baseText, std::string_view referenceText) {
  const TUriView base = ParseUriView(baseText);
  const TUriView reference = ParseUriView(referenceText);
  if (reference.Scheme) {
    return Compose(reference.Scheme, reference.Authority, RemoveDotSegments(reference.Path),
                   reference.Query, reference.Fragment);
  }
  if (reference.Authority) {
    return Compose(base.Scheme, reference.Authority, RemoveDotSegments(reference.Path),
                   reference.Query, reference.Fragment);
  }
  if (reference.Path.empty()) {
    return Compose(base.Scheme, base.Authority, base.Path,
                   reference.Query ? reference.Query : base.Query, reference.Fragment);
  }
  const std::string path = reference.Path.front() == '/'
                               ? RemoveDotSegments(reference.Path)
                               : RemoveDotSegments(MergePaths(base, reference.Path));
  return Compose(base.Scheme, base.Authority, path, reference.Query, reference.Fragment);
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
