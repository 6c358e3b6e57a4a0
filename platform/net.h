// Non-blocking IPv4 UDP sockets, name resolution, local addresses and socket error texts.
// The only place that includes the POSIX socket headers; addresses cross this boundary as four
// bytes in network order and a port in host order.
#pragma once

#include <cstdint>

// A socket handle: 0 is "no socket".
using PlatformSocket = int;

// What a failed call left behind, for the error texts and the quiet cases.
enum PlatformNetError {
  kPlatformNetOk = 0,
  kPlatformNetWouldBlock,  // nothing waiting / the send would block
  kPlatformNetConnReset,   // an ICMP "port unreachable" from an earlier send
  kPlatformNetMsgSize,     // datagram larger than the buffer
  kPlatformNetAddrNotAvail,
  kPlatformNetOther,
};

// An IPv4 socket address (the system's sockaddr_in) held by value, for callers that do not see
// the socket headers.
struct PlatformSockaddr {
  alignas(8) unsigned char bytes[16];
};
// Family AF_INET, the four bytes as they are, the port in network order (htons).
void platformSockaddrFromIPv4(PlatformSockaddr* out, const uint8_t ip[4], uint16_t port);
// The four bytes and the port in host order (ntohs); false unless the family is AF_INET.
bool platformSockaddrToIPv4(const PlatformSockaddr& address, uint8_t ip[4], uint16_t* port);

// Opens a UDP socket, non-blocking, broadcast allowed, bound to `ip` (null: any local address)
// and `port` (-1: any port). 0 on failure; platformNetLastError tells why.
PlatformSocket platformUdpOpen(const uint8_t* ip, int port);
void platformUdpClose(PlatformSocket socket);
// The bound address (getsockname).
bool platformUdpLocalAddress(PlatformSocket socket, uint8_t ip[4], uint16_t* port);

// One datagram into `buffer`. Returns its full size (which may exceed `capacity`: the datagram was
// cut, only `capacity` bytes are in the buffer), or -1 with the error kept for platformNetLast*.
int platformUdpReceive(PlatformSocket socket, void* buffer, int capacity, uint8_t fromIp[4],
                       uint16_t* fromPort);
// The same with the sender as a socket address.
int platformUdpReceiveFrom(PlatformSocket socket, void* buffer, int capacity, PlatformSockaddr* from);
// Sends one datagram; false with the error kept.
bool platformUdpSendTo(PlatformSocket socket, const void* data, int length, const PlatformSockaddr& to);
// Sends one datagram; false with the error kept.
bool platformUdpSend(PlatformSocket socket, const void* data, int length, const uint8_t toIp[4],
                     uint16_t toPort);

// The kind and text ("EWOULDBLOCK: Resource temporarily unavailable!") of the last failed call.
PlatformNetError platformNetLastError();
const char* platformNetErrorText();
// The text for one errno value; "NO ERROR - WTF" for a code without a text.
const char* platformNetErrorTextFor(int code);

// A dotted IPv4 text ("127.0.0.1"); false when it is not one.
bool platformParseIPv4(const char* text, uint8_t ip[4]);
// Looks a host name up (getaddrinfo, IPv4 only) and gives its first address.
bool platformResolveIPv4(const char* host, uint8_t ip[4]);
// The machine's name, at most size - 1 characters.
bool platformHostName(char* out, int size);
// Up to `max` IPv4 addresses of the machine's interfaces (getifaddrs), loopback last.
int platformLocalIPv4Addresses(uint8_t (*out)[4], int max);
// Fills `bytes` from the kernel's random source (getrandom); false when it cannot.
bool platformRandomBytes(void* bytes, int count);
