// Test connections from a chosen loopback source (127.0.0.2, ...) or over IPv6, for the
// per-address limits and the listen address. Only loopback addresses are ever used.
#pragma once

namespace orvane::test {

// A non-blocking TCP socket bound to `source` (any loopback literal, or nullptr for the
// kernel's choice) and connecting to `target`:port; the connection may still be under way.
// -1 when either address is not a loopback literal or the socket cannot be made.
int ConnectFrom(const char* source, const char* target, int port);

}  // namespace orvane::test
