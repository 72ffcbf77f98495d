#pragma once
// A loopback relay that delays every byte by a fixed time in each direction, standing in for a
// network with a round-trip time where the kernel offers no delay emulation.

namespace vantaro::bench {

// Listens on 127.0.0.1, .2 and .3 at one free port and forwards each connection to the same address
// at targetPort, holding each direction's bytes for delayMs; the relay's port, 0 on failure.
int StartDelayRelay(int targetPort, int delayMs);
// Closes every relayed connection and waits for the relay's threads.
void StopDelayRelay();

} // namespace vantaro::bench
