#pragma once
// The sample tile service as tests use it: flat-coloured 512 x 512 JPEG tiles that show where each
// cell went, a fault chosen per request, and a log of requests. One server per process; it stops
// by itself after its lifetime, and at StopTileServer.

#include "tile_service.h"

#include <functional>
#include <string>
#include <vector>

namespace vantaro::test {

enum class TileFault {
    None, // 200 with the tile
    NotFound, // 404
    ServerError, // 500
    EmptyBody, // 200 with no body
    Truncated, // 200 announcing the whole tile, half of it sent, then the connection closed
    StallBeforeAnswer, // the request is read, nothing is ever answered
    StallInBody, // 200 and half of the tile, then nothing more
    Redirect, // 302 to the same tile
    Oversized, // 200 with 33 MiB of body and no length announced, ended by closing
    NotAJpeg, // 200 with an HTML page
    HugeDeclaredJpeg, // 200 with the tile, its header declaring 8000 x 8000 pixels
};

using sample::TileRequest;

using TileFaultRule = std::function<TileFault(const TileRequest&)>;

struct TileServerOptions {
    std::string folder; // where the certificates are written (an existing folder)
    bool unknownCa = false; // serve a certificate from an authority the client is not told of
    TileFaultRule faultRule; // called for every request; none answers every tile
    int lifetimeSeconds = 600;
};

// Starts the server on a free port; the port, or 0 when it could not start.
int StartTileServer(const TileServerOptions& options);
// Stops serving, closes every connection and waits for the server's threads.
void StopTileServer();
// Changes the fault rule of the running server.
void SetTileFaultRule(TileFaultRule rule);

// The mirror host pattern that reaches the running server: "127.0.0.{N}:<port>".
std::string TileServerHostPattern();
// The PEM file of the authority behind the trusted certificate.
std::string TileServerCaFile();
// Every request received since the start, in order.
std::vector<TileRequest> ReceivedTileRequests();
// Connections accepted (TLS handshakes attempted) since the start.
int AcceptedConnections();

// The colour the server paints tile (x, y) with (mean colour; JPEG adds small noise): 0xRRGGBB.
unsigned TileColour(int x, int y);
// The JPEG bytes the server sends for tile (x, y).
std::vector<unsigned char> TileJpeg(int x, int y);
// The baseline JPEG with another frame size in its header; its pixel data stays that of the old size.
std::string WithDeclaredJpegSize(std::string jpeg, unsigned width, unsigned height);
// A loopback port on which nothing listens, for refused connections.
int UnusedLoopbackPort();

} // namespace vantaro::test
