#pragma once
// Listening sockets for the three tile server mirrors on loopback: 127.0.0.1, .2 and .3 share one
// port, so a mirror host pattern needs only the address to vary.

namespace vantaro::sample {

// Opens the three listeners on the given port, or on a free one when port is 0; the port, or 0 when
// they could not all be opened (then none is left open).
int OpenMirrorListeners(int port, int (&listeners)[3]);
// Closes those that are open and marks them closed (-1).
void CloseMirrorListeners(int (&listeners)[3]);

} // namespace vantaro::sample
