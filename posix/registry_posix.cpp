// Linux has no registry of its own: the machine's registry is a process-wide
// in-memory one that starts empty.
#include "core/registry.h"
#include "registry/memory_registry.h"

namespace glintmark::reg {

Registry& systemRegistry() {
  static MemoryRegistry registry;
  return registry;
}

}  // namespace glintmark::reg
