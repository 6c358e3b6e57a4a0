// POSIX UDP sockets behind the engine's socket layer.
#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

thread_local int t_lastErrno = 0;

int fail() {
  t_lastErrno = errno;
  return -1;
}

void fillSockaddr(sockaddr_in* out, const uint8_t ip[4], uint16_t port) {
  std::memset(out, 0, sizeof(*out));
  out->sin_family = AF_INET;
  std::memcpy(&out->sin_addr.s_addr, ip, 4);
  out->sin_port = htons(port);
}

static_assert(sizeof(sockaddr_in) <= sizeof(PlatformSockaddr), "PlatformSockaddr holds a sockaddr_in");

}  // namespace

void platformSockaddrFromIPv4(PlatformSockaddr* out, const uint8_t ip[4], uint16_t port) {
  std::memset(out, 0, sizeof(*out));
  fillSockaddr(reinterpret_cast<sockaddr_in*>(out->bytes), ip, port);
}

bool platformSockaddrToIPv4(const PlatformSockaddr& address, uint8_t ip[4], uint16_t* port) {
  sockaddr_in in;
  std::memcpy(&in, address.bytes, sizeof(in));
  if (in.sin_family != AF_INET)
    return false;
  std::memcpy(ip, &in.sin_addr.s_addr, 4);
  *port = ntohs(in.sin_port);
  return true;
}

PlatformSocket platformUdpOpen(const uint8_t* ip, int port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    fail();
    return 0;
  }
  int one = 1;
  int flags = fcntl(fd, F_GETFL, 0);
  sockaddr_in address;
  const uint8_t any[4] = {0, 0, 0, 0};
  fillSockaddr(&address, ip ? ip : any, port < 0 ? 0 : uint16_t(port));
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ||
      setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one)) < 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) {
    fail();
    ::close(fd);
    return 0;
  }
  // Descriptor 0 is taken by standard input in any real process; keep 0 as "none" regardless.
  if (fd == 0) {
    int other = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    if (other < 0) {
      fail();
      return 0;
    }
    fd = other;
  }
  return fd;
}

void platformUdpClose(PlatformSocket socket) {
  if (socket > 0)
    ::close(socket);
}

bool platformUdpLocalAddress(PlatformSocket socket, uint8_t ip[4], uint16_t* port) {
  sockaddr_in address;
  socklen_t length = sizeof(address);
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
    fail();
    return false;
  }
  std::memcpy(ip, &address.sin_addr.s_addr, 4);
  *port = ntohs(address.sin_port);
  return true;
}

int platformUdpReceiveFrom(PlatformSocket socket, void* buffer, int capacity, PlatformSockaddr* from) {
  sockaddr_in address;
  socklen_t length = sizeof(address);
  std::memset(&address, 0, sizeof(address));
  // MSG_TRUNC reports the datagram's real size, so a cut datagram is never taken as whole.
  ssize_t got = recvfrom(socket, buffer, capacity > 0 ? size_t(capacity) : 0, MSG_TRUNC,
                         reinterpret_cast<sockaddr*>(&address), &length);
  std::memset(from, 0, sizeof(*from));
  std::memcpy(from->bytes, &address, sizeof(address));
  if (got < 0)
    return fail();
  return got > 0x7fffffff ? 0x7fffffff : int(got);
}

int platformUdpReceive(PlatformSocket socket, void* buffer, int capacity, uint8_t fromIp[4],
                       uint16_t* fromPort) {
  PlatformSockaddr from;
  const int got = platformUdpReceiveFrom(socket, buffer, capacity, &from);
  if (!platformSockaddrToIPv4(from, fromIp, fromPort)) {
    std::memset(fromIp, 0, 4);
    *fromPort = 0;
  }
  return got;
}

bool platformUdpSendTo(PlatformSocket socket, const void* data, int length, const PlatformSockaddr& to) {
  if (sendto(socket, data, length > 0 ? size_t(length) : 0, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(to.bytes),
             sizeof(sockaddr_in)) < 0) {
    fail();
    return false;
  }
  return true;
}

bool platformUdpSend(PlatformSocket socket, const void* data, int length, const uint8_t toIp[4],
                     uint16_t toPort) {
  PlatformSockaddr to;
  platformSockaddrFromIPv4(&to, toIp, toPort);
  return platformUdpSendTo(socket, data, length, to);
}

PlatformNetError platformNetLastError() {
  switch (t_lastErrno) {
    case 0:
      return kPlatformNetOk;
    case EAGAIN:
      return kPlatformNetWouldBlock;
    case ECONNREFUSED:
    case ECONNRESET:
      return kPlatformNetConnReset;
    case EMSGSIZE:
      return kPlatformNetMsgSize;
    case EADDRNOTAVAIL:
      return kPlatformNetAddrNotAvail;
    default:
      return kPlatformNetOther;
  }
}

const char* platformNetErrorText() {
  return platformNetErrorTextFor(t_lastErrno);
}

const char* platformNetErrorTextFor(int code) {
  switch (code) {
    case EINTR:
      return "EINTR: Interrupted function call!";
    case EACCES:
      return "EACCES: Permission denied!";
    case EFAULT:
      return "EFAULT: Bad address!";
    case EINVAL:
      return "EINVAL: Invalid argument!";
    case EMFILE:
      return "EMFILE: Too many open files!";
    case EAGAIN:
      return "EWOULDBLOCK: Resource temporarily unavailable!";
    case EINPROGRESS:
      return "EINPROGRESS: Operation already in progress!";
    case EALREADY:
      return "EALREADY: Operation already in progress!";
    case ENOTSOCK:
      return "ENOTSOCK: Socket operation on nonsocket!";
    case EDESTADDRREQ:
      return "EDESTADDRREQ: Destination address required!";
    case EMSGSIZE:
      return "EMSGSIZE: Message too long!";
    case EPROTOTYPE:
      return "EPROTOTYPE: Protocol wrong type for socket!";
    case ENOPROTOOPT:
      return "ENOPROTOOPT: Bad protocol option!";
    case EPROTONOSUPPORT:
      return "EPROTONOSUPPORT: Protocol not supported!";
    case ESOCKTNOSUPPORT:
      return "ESOCKTNOSUPPORT: Socket type not supported!";
    case EOPNOTSUPP:
      return "EOPNOTSUPP: Operation not supported!";
    case EPFNOSUPPORT:
      return "EPFNOSUPPORT: Protocol family not supported!";
    case EAFNOSUPPORT:
      return "EAFNOSUPPORT: Address family not supported by protocol family!";
    case EADDRINUSE:
      return "EADDRINUSE: Address already in use!";
    case EADDRNOTAVAIL:
      return "EADDRNOTAVAIL: Remote address or port is not valid!";
    case ENETDOWN:
      return "ENETDOWN: Network is down!";
    case ENETUNREACH:
      return "ENETUNREACH: Network is unreachable!";
    case ENETRESET:
      return "ENETRESET: Network dropped connection on reset!";
    case ECONNABORTED:
      return "ECONNABORTED: Software caused connection abort!";
    case ECONNRESET:
      return "ECONNRESET: Connection reset by peer!";
    case ECONNREFUSED:
      return "ECONNREFUSED: Connection refused!";
    case ENOBUFS:
      return "ENOBUFS: No buffer space available!";
    case EISCONN:
      return "EISCONN: Socket is already connected!";
    case ENOTCONN:
      return "ENOTCONN: Socket is not connected!";
    case ESHUTDOWN:
      return "ESHUTDOWN: Cannot send after socket shutdown!";
    case ETOOMANYREFS:
      return "ETOOMANYREFS: Too many references to some kernel object!";
    case ETIMEDOUT:
      return "ETIMEDOUT: Connection timed out!";
    case EHOSTDOWN:
      return "EHOSTDOWN: Host is down!";
    case EHOSTUNREACH:
      return "EHOSTUNREACH: No route to host!";
    case ENFILE:
      return "ENFILE: Too many open files in system!";
    default:
      return "NO ERROR - WTF";
  }
}

bool platformParseIPv4(const char* text, uint8_t ip[4]) {
  in_addr address;
  if (!text || inet_pton(AF_INET, text, &address) != 1)
    return false;
  std::memcpy(ip, &address.s_addr, 4);
  return true;
}

bool platformResolveIPv4(const char* host, uint8_t ip[4]) {
  if (!host || !host[0])
    return false;
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result) {
    t_lastErrno = EHOSTUNREACH;
    return false;
  }
  bool found = false;
  for (addrinfo* entry = result; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      const sockaddr_in* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      std::memcpy(ip, &address->sin_addr.s_addr, 4);
      found = true;
      break;
    }
  }
  freeaddrinfo(result);
  return found;
}

bool platformHostName(char* out, int size) {
  if (!out || size <= 0)
    return false;
  if (gethostname(out, size_t(size)) < 0) {
    fail();
    out[0] = '\0';
    return false;
  }
  out[size - 1] = '\0';
  return true;
}

int platformLocalIPv4Addresses(uint8_t (*out)[4], int max) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) < 0) {
    fail();
    return 0;
  }
  int count = 0;
  uint8_t loopback[4] = {};
  bool haveLoopback = false;
  for (ifaddrs* entry = list; entry && count < max; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
      continue;
    const sockaddr_in* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    uint8_t ip[4];
    std::memcpy(ip, &address->sin_addr.s_addr, 4);
    if (ip[0] == 127) {
      if (!haveLoopback)
        std::memcpy(loopback, ip, 4);
      haveLoopback = true;
      continue;
    }
    std::memcpy(out[count++], ip, 4);
  }
  freeifaddrs(list);
  if (haveLoopback && count < max)
    std::memcpy(out[count++], loopback, 4);
  return count;
}

bool platformRandomBytes(void* bytes, int count) {
  uint8_t* out = static_cast<uint8_t*>(bytes);
  int done = 0;
  while (done < count) {
    ssize_t got = getrandom(out + done, size_t(count - done), 0);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      fail();
      return false;
    }
    done += int(got);
  }
  return true;
}
