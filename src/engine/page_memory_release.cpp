#include "engine/page_memory_release.h"

#include <malloc.h>

namespace qm {

void ReturnPageBuffersToTheSystem() {
  // Buffers from 256 KiB up are mapped on their own and unmapped when freed. Setting it also
  // stops the allocator from raising the threshold after each large free.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
  // Each arena keeps the high-water mark of the small pieces (links, rows) freed in it:
  // a few arenas for a hundred lanes keep a few such marks, not one per core times eight.
  mallopt(M_ARENA_MAX, 4);
}

}  // namespace qm
