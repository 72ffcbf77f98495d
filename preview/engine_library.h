#pragma once
// Loading the 3D engine component from a shared library at run time.

#include "engine/engine_api.h"

#include <string>

namespace vantaro {

enum class EngineLoadFailure { None, NotLoadable, NoEntryPoint, OtherVersion, InitFailed };

struct EngineLibrary {
    void* library = nullptr;
    const VantaroEngine* engine = nullptr; // set only when loaded, accepted and initialised
    EngineLoadFailure failure = EngineLoadFailure::None;
};

// The started engine of the library at `path`; on any failure the library is unloaded again and
// the result names the failure.
EngineLibrary LoadEngineLibrary(const std::string& path);
// Shuts the engine down and unloads its library; does nothing for an empty one.
void UnloadEngineLibrary(EngineLibrary& loaded);

} // namespace vantaro
