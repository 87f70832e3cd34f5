// The IP transport library (TARN): the camera maker's UDP datagram library, as
// our own implementation with the maker's C interface. Every datagram is the
// 20-byte PacketHeader, little-endian, followed directly by the body bytes
// (docs/protocol.md). Results that callers examine are 1 for success; a socket
// handle is a 16-bit value and 0 means none.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
typedef struct PacketHeader {
    uint16_t magic;        // 0x8000
    uint8_t category;      // 0x80
    uint8_t subCategory;   // 0x42
    uint16_t command;      // 0x701 search, 0x703 address change, 0x711 request, 0x712 notification
    uint16_t result;       // 0 in requests; 0x4F4B in a reply that accepts a 0x711 request
    uint8_t bodyMarker;    // '#' in requests, '$' in datagrams that carry a JSON body
    uint8_t reserved[3];
    uint32_t flags;        // 0x80000000
    uint32_t tag;          // 0x711: the caller's tag, echoed in the reply
} PacketHeader;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(PacketHeader) == 20, "the wire header is 20 bytes");
#endif

enum {
    TARN_HEADER_SIZE = 20,
    TARN_MAGIC = 0x8000,
    TARN_CATEGORY = 0x80,
    TARN_SUBCATEGORY = 0x42,
    TARN_FLAGS = 0x80000000u,
};

// Receive callback, called on the library's receive thread of the socket, once
// per datagram of at least 20 bytes. The two leading arguments are the sender's
// IPv4 address (host byte order) and UDP port; bodyLength is the number of body
// bytes; body points to a NUL-terminated copy of them, valid during the call.
typedef int (*TARN_RECV_CALLBACK)(uint32_t peerAddress, uint32_t peerPort, PacketHeader header,
                                  uint32_t bodyLength, const char* body);

// Connection notification; this library never calls it (UDP has no connections).
typedef void (*TARN_CONNECTION_NOTIFY)(uint16_t handle, int event);

// Sets the log directory and log-file limits. The directory is a Windows path
// from the caller: it is mapped to $LYNX_LOG_DIR, else $XDG_STATE_HOME/lynx/log
// (default ~/.local/state/lynx/log); no folder is ever made from the given path.
// maxFiles and maxFileMb bound the log on disk: the current file is tarn.log;
// before a line would take it past maxFileMb MiB it becomes tarn.log.1, the
// older files move up one (tarn.log.2, ...) and the oldest beyond maxFiles
// files in all is removed. A number of 0 or less means 35, the maker's own.
unsigned char tarn_Init(int mode, int maxFiles, int maxFileMb, const char* logDirectory, int reserved1,
                        int reserved2, int reserved3, int reserved4);
// 1 switches the log on (one line per server, client and failed send), 0 off.
void tarn_SetLogFlag(int enabled);
void tarn_RegisterConnectionNotify(TARN_CONNECTION_NOTIFY notify);

// Starts a UDP server on 0.0.0.0:localPort (SO_BROADCAST, SO_REUSEADDR, a receive
// buffer of 32 MiB or what tarn_ext_SetReceiveBufferSize asked for, whichever
// is larger, within what the system allows) with its own receive thread. Returns 1 and the handle.
// When this process already serves localPort, the running server is left alone:
// the call returns 1 and the running server's handle, and the given callback is
// not used.
unsigned char tarn_StartUDPServer(uint16_t* handle, TARN_RECV_CALLBACK callback, int reserved1,
                                  int reserved2, uint16_t localPort);
// Starts a UDP client towards deviceIp:port on an ephemeral local port, with its
// own receive thread for the datagrams that come back. Returns 1 and the handle.
unsigned char tarn_StartUDPClient(uint16_t* handle, const char* deviceIp, uint16_t port,
                                  TARN_RECV_CALLBACK callback);
// Sends header + body to destIp:destPort through the socket. Returns 1 when sent.
unsigned char tarn_UdpSendTo(uint16_t handle, const PacketHeader* header, int reserved,
                             int bodyLength, const char* body, const char* destIp, uint16_t destPort);

// ---- Extensions of this implementation (not in the maker's library) ----

// Like tarn_UdpSendTo, with the datagram's source address set to sourceIp, an
// address of this host (a simulated camera answers from its own address).
unsigned char tarn_ext_UdpSendFrom(uint16_t handle, const PacketHeader* header, int bodyLength,
                                   const char* body, const char* sourceIp, const char* destIp,
                                   uint16_t destPort);
// The log's limits in bytes rather than tarn_Init's MiB (tests rotate small
// logs); 0 or less means the default of 35 files of 35 MiB.
void tarn_ext_SetLogLimits(int maxFiles, uint64_t maxFileBytes);
// Splits a datagram as received into its header (the first 20 bytes, as they
// lie on the wire) and its body (the rest). 0 for a datagram too short to
// carry a header or longer than 64 KiB, which the receive threads drop.
unsigned char tarn_ext_DecodeDatagram(const char* bytes, size_t length, PacketHeader* header, const char** body,
                                      uint32_t* bodyLength);

// Writes a line of the caller's into the log (when the log is on), for the
// failures of its own that it tells nobody else.
void tarn_ext_LogLine(const char* line);
// Like tarn_ext_UdpSendFrom, out of the interface with this index (as given by
// if_nametoindex): a limited broadcast (255.255.255.255) leaves by that
// interface alone, whatever the routes say. sourceIp may be null (the
// interface's own address). 0 for interface index 0.
unsigned char tarn_ext_UdpSendVia(uint16_t handle, const PacketHeader* header, int bodyLength, const char* body,
                                  unsigned interfaceIndex, const char* sourceIp, const char* destIp,
                                  uint16_t destPort);

// Where a received datagram arrived: the interface and the local address it
// was addressed to (IP_PKTINFO).
typedef struct TARN_ARRIVAL {
    unsigned interfaceIndex;
    char interfaceName[16];  // NUL-terminated
    char localAddress[16];   // dotted IPv4, NUL-terminated
} TARN_ARRIVAL;
// Called inside a receive callback: where the datagram being delivered
// arrived. 1 and *arrival filled when known, 0 otherwise (and outside a
// callback).
unsigned char tarn_ext_Arrival(TARN_ARRIVAL* arrival);

// Asks every socket, open and to come, for a receive buffer of this many bytes
// when that is more than the default 32 MiB (the system may cap it: without
// privileges, at net.core.rmem_max).
void tarn_ext_SetReceiveBufferSize(uint32_t bytes);
// The receive buffer a socket has (as the kernel counts it), 0 for an
// unknown handle.
uint32_t tarn_ext_ReceiveBufferSize(uint16_t handle);
// The local UDP port of a socket, 0 for an unknown handle.
uint16_t tarn_ext_LocalPort(uint16_t handle);
// Closes one socket and joins its receive thread; 1 when the handle was open.
// Called from that socket's own callback, it returns at once and the thread
// ends when the callback returns; no callback follows.
unsigned char tarn_ext_Close(uint16_t handle);
// Sockets opened from now on may share their port with other programs that
// ask the same (SO_REUSEADDR): several simulators of cameras in one network,
// each hearing the broadcasts. Off by default: a tool must have its ports to
// itself, or the answers meant for it reach another program.
void tarn_ext_SharePorts(int share);
// Why the calling thread's last failed tarn_StartUDPServer or
// tarn_StartUDPClient failed: an errno value (EADDRINUSE: another program
// holds the port), 0 before any failure.
int tarn_ext_LastStartError(void);
// Closes every socket and joins every receive thread (tests and clean exits).
void tarn_ext_Shutdown(void);

#ifdef __cplusplus
}
#endif
