// A stand-in engine component for the loading paths the real one never takes: another interface
// version, a failing start, no entry point. VIEWER_FAKE_VERSION, VIEWER_FAKE_INIT and
// VIEWER_FAKE_NO_ENTRY pick the variant.
#include "engine/engine_api.h"

#ifndef VIEWER_FAKE_VERSION
#define VIEWER_FAKE_VERSION 520
#endif
#ifndef VIEWER_FAKE_INIT
#define VIEWER_FAKE_INIT 1
#endif

namespace {
int Init() {
    return VIEWER_FAKE_INIT;
}
void Shutdown() { }
} // namespace

// Without the entry point the component exports its table under another name.
#ifdef VIEWER_FAKE_NO_ENTRY
#define VIEWER_FAKE_ENTRY SomeOtherInterface
#else
#define VIEWER_FAKE_ENTRY VantaroEngineInterface
#endif

extern "C" __attribute__((visibility("default"))) const VantaroEngine* VIEWER_FAKE_ENTRY() {
    static const VantaroEngine engine = { VIEWER_FAKE_VERSION, Init, Shutdown, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr };
    return &engine;
}
