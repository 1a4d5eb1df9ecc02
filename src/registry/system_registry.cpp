#include "registry/emulated_registry.h"

namespace melofon::registry {

RegistryApi& systemRegistry() {
    static EmulatedRegistry registry;
    return registry;
}

} // namespace melofon::registry
