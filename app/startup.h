#pragma once
// The program's life: start-up, the event loop with its dispatch, and shutdown.

namespace vantaro {

// Starts the network layer; false when it could not be started. A seam for tests: the real one
// (libcurl's global start-up) cannot be made to fail here.
using NetworkStartup = bool (*)();
bool StartNetwork();

// Steps up to the shown window; false when the network failed (its box was shown, no window made).
bool StartUp(NetworkStartup startNetwork = StartNetwork);
// Waits for events and runs one command per control event until a close request.
void RunEventLoop();
// Releases every facility in order: network, preview, windows, engine.
void ShutDown();
// The whole program; always 0.
int RunProgram(NetworkStartup startNetwork = StartNetwork);

} // namespace vantaro
