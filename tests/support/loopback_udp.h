#pragma once
// A UDP socket of a test's own server: bound to 127.0.0.1 on a port the kernel picks.

namespace qm::test {

// The socket, with its port in `port`; throws when none can be had.
int BindLoopbackUdp(int& port);

}  // namespace qm::test
