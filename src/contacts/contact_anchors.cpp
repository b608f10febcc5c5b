#include "contacts/contact_anchors.h"

namespace qm {

#if defined(__x86_64__)
bool CpuHasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace qm
