#include "ui/dialogs.h"

namespace qm::ui {

std::string ApplyDefaultExtension(const std::string& path, const std::string& extension) {
  if (extension.empty()) return path;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  if (path.find('.', nameStart) != std::string::npos) return path;
  if (nameStart == path.size()) return path;
  return path + "." + extension;
}

}  // namespace qm::ui
