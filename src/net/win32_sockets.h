#pragma once
// Windows only: the one start of Windows Sockets that every socket and
// resolver call of this library needs first. It does not include the system
// headers itself.

namespace vlt::net {

// Starts Windows Sockets 2.2 on the first call; later calls give the first
// call's outcome. 0 when the library is ready, otherwise the Windows Sockets
// code (10091, 10092, ...). The library stays started until the process ends.
int start_winsock();

}  // namespace vlt::net
