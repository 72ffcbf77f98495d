#pragma once
// The sample tile service: real HTTPS on 127.0.0.1, .2 and .3 (one port, one address per mirror),
// answering the program's tile requests with drawn panoramas. It keeps connections open and
// answers one request at a time on each. One service per process.

#include <functional>
#include <string>
#include <vector>

namespace vantaro::sample {

// One request as the service received it; the numbers are -1 where the query lacks them.
struct TileRequest {
    std::string target; // path and query, as sent
    int mirror = 0; // the last byte of the local address that took the connection: 1..3
    std::string panoramaId;
    int x = -1;
    int y = -1;
    int zoom = -1;
};

// How one request is answered.
struct TileReply {
    std::string status = "200 OK";
    std::string headers; // extra header lines, each ending in CR LF
    std::string body;
    std::size_t sentBodyBytes = std::string::npos; // fewer than the body: the rest is withheld
    bool lengthAnnounced = true; // false: no Content-Length, the body ends with the connection
    bool stallBeforeAnswer = false; // nothing is sent; the connection is held until the peer leaves
    bool stallAfterAnswer = false; // after what was sent, the connection is held without a word
    bool closeAfterAnswer = false;
};

using TileAnswer = std::function<TileReply(const TileRequest&)>;

struct TileServiceOptions {
    std::string certificateFolder; // an existing folder; the certificates are made there on first start
    int port = 0; // 0: a free port
    TileAnswer answer; // none: the drawn sample panoramas
    int lifetimeSeconds = 0; // stops by itself after this long; 0: only at StopTileService
};

// Starts the service; its port, or 0 when it could not start (port taken, no certificates).
int StartTileService(const TileServiceOptions& options);
// Stops serving, closes every connection and waits for the service's threads.
void StopTileService();
// Replaces the answer of the running service; none restores the drawn panoramas.
void SetTileAnswer(TileAnswer answer);
// Connections accepted (TLS handshakes attempted) since the start.
int AcceptedConnections();
// The authority file the running service's certificate comes from.
std::string ServiceAuthorityFile();

// The drawn panorama's tile for a request made exactly as the program makes it; 404 otherwise.
TileReply SampleTileReply(const TileRequest& request);

// Page addresses of a few sample panoramas, as a user would paste them.
std::vector<std::string> SamplePageAddresses();

} // namespace vantaro::sample
