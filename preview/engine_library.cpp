#include "engine_library.h"

#include <dlfcn.h>

namespace vantaro {

namespace {
EngineLibrary Failed(void* library, EngineLoadFailure failure) {
    if (library)
        dlclose(library);
    return { nullptr, nullptr, failure };
}
} // namespace

EngineLibrary LoadEngineLibrary(const std::string& path) {
    // Local symbols: the component's own dependencies must not leak into the program's namespace.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return Failed(nullptr, EngineLoadFailure::NotLoadable);
    auto entry = reinterpret_cast<VantaroEngineEntry>(dlsym(library, VANTARO_ENGINE_ENTRY_POINT));
    if (!entry)
        return Failed(library, EngineLoadFailure::NoEntryPoint);
    const VantaroEngine* engine = entry();
    if (!engine || engine->interfaceVersion != VANTARO_ENGINE_INTERFACE_VERSION)
        return Failed(library, EngineLoadFailure::OtherVersion);
    if (!engine->Init())
        return Failed(library, EngineLoadFailure::InitFailed);
    return { library, engine, EngineLoadFailure::None };
}

void UnloadEngineLibrary(EngineLibrary& loaded) {
    if (loaded.engine)
        loaded.engine->Shutdown();
    if (loaded.library)
        dlclose(loaded.library);
    loaded = {};
}

} // namespace vantaro
