// The sequenced channel: packet framing, fragments and the reliable queue.
#include "network/netchannel.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/net.h"

namespace {

// Channel ids use 31 bits and skip 0 ("no id yet"). They come from the kernel's random source:
// an id is what a packet shows to prove it belongs to a connection, so a stranger must not be
// able to guess the next one. Tests may switch to counting from a known value.
int32_t s_channelIdCounter = 0;
bool s_countIds = false;

constexpr uint32_t kFragmentBit = 0x80000000u;

int32_t nextChannelId() {
  if (!s_countIds) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      uint32_t random = 0;
      if (!platformRandomBytes(&random, sizeof(random)))
        break;
      const int32_t id = int32_t(random & 0x7fffffffu);
      if (id != 0 && id != s_channelIdCounter) {
        s_channelIdCounter = id;
        return id;
      }
    }
    // No random source: the monotonic clock's nanoseconds still vary from run to run.
    s_channelIdCounter = int32_t((uint32_t(s_channelIdCounter) * 1103515245u + uint32_t(platformNanoseconds())) &
                                 0x7fffffffu);
    if (s_channelIdCounter == 0)
      s_channelIdCounter = 1;
    return s_channelIdCounter;
  }
  s_channelIdCounter = int32_t((uint32_t(s_channelIdCounter) + 1u) & 0x7fffffffu);
  if (s_channelIdCounter == 0)
    s_channelIdCounter = 1;
  return s_channelIdCounter;
}

}  // namespace

NetChannel::NetChannel() {
  reset();
}

void NetChannel::reset() {
  kind = 0;
  remoteAddress = NetAddress();
  qport = 0;
  channelId = 0;
  reliableSequence = 0;
  reliableAcknowledge = 0;
  reliableReceived = 0;
  incomingSequence = 0;
  outgoingSequence = 0;
  dropped = 0;
  packetInterval = 0;
  lastReceiveTime = 0;
  fragmentSequence = 0;
  fragmentLength = 0;
  unsentFragments = false;
  unsentFragmentStart = 0;
  unsentLength = 0;
  peerKnowsId = false;
  std::memset(fragmentBuffer, 0, sizeof(fragmentBuffer));
  std::memset(unsentBuffer, 0, sizeof(unsentBuffer));
  for (int i = 0; i < kReliableSlots; ++i) {
    reliableSlots[i].init(slotBuffers_[i], kPacketBufferSize);
    reliableSlots[i].clear();
  }
}

void NetChannel::setup(int newKind, const NetAddress& address, int newQport) {
  reset();
  kind = newKind;
  if (kind == kServerSide)
    channelId = nextChannelId();
  remoteAddress = address;
  qport = newQport & 0xffff;
  outgoingSequence = 1;
}

void NetChannel::resetIdCounter(int32_t value) {
  s_channelIdCounter = value & 0x7fffffff;
  s_countIds = true;
}

void NetChannel::useRandomIds() {
  s_countIds = false;
}

void NetChannel::beginPacket(BitMsg& packet, int32_t sequence) const {
  packet.writeInt(sequence);
  packet.writeInt(channelId);
  if (kind == kClientSide)
    packet.writeBits(qport & 0xffff, 16);
}

bool NetChannel::send(const BitMsg& msg, PacketSender& sender) {
  // The buffer of a message whose fragments are still going out stays untouched: replacing it
  // would send pieces of two messages under one sequence number.
  if (unsentFragments || msg.isOverflowed() || !msg.getData())
    return false;
  const int size = msg.getSize();
  if (size > kMaxPayloadSize)
    return false;
  unsentFragmentStart = 0;
  if (size >= kFragmentSize) {
    unsentFragments = true;
    unsentLength = size;
    std::memcpy(unsentBuffer, msg.getData(), size_t(size));
    sendNextFragment(sender);
    return true;
  }
  uint8_t buffer[kPacketBufferSize];
  BitMsg packet(buffer, sizeof(buffer));
  beginPacket(packet, outgoingSequence);
  ++outgoingSequence;
  packet.writeData(msg.getData(), size);
  sender.sendPacket(packet.getSize(), buffer, remoteAddress);
  return true;
}

void NetChannel::sendNextFragment(PacketSender& sender) {
  if (!unsentFragments)
    return;
  uint8_t buffer[kPacketBufferSize];
  BitMsg packet(buffer, sizeof(buffer));
  beginPacket(packet, int32_t(uint32_t(outgoingSequence) | kFragmentBit));
  int length = kFragmentSize;
  if (unsentLength - unsentFragmentStart < length)
    length = unsentLength - unsentFragmentStart;
  packet.writeBits(unsentFragmentStart, 16);
  packet.writeBits(length, 16);
  packet.writeData(unsentBuffer + unsentFragmentStart, length);
  sender.sendPacket(packet.getSize(), buffer, remoteAddress);
  unsentFragmentStart += length;
  // A piece of exactly the fragment size says "more follow", so a message whose size is a
  // multiple of it ends with an empty piece.
  if (unsentFragmentStart >= unsentLength && length != kFragmentSize) {
    ++outgoingSequence;
    unsentFragments = false;
  }
}

bool NetChannel::sendData(int length, const void* bytes, PacketSender& sender) {
  if (length < 0 || length >= kMaxPayloadSize)
    return false;
  uint8_t copy[kMaxMessageSize];
  std::memcpy(copy, bytes, size_t(length));
  copy[length] = 0;  // the byte under the write position goes out too
  BitMsg msg(copy, sizeof(copy));
  msg.setWriteBit(length * 8);
  return send(msg, sender);
}

bool NetChannel::process(BitMsg& msg) {
  const int headerBits = 64 + (kind == kServerSide ? 16 : 0);
  const int packetBits = msg.getWriteBit();
  if (packetBits < headerBits)
    return false;
  msg.setReadBit(0);
  const uint32_t rawSequence = uint32_t(msg.readInt());
  const int32_t id = msg.readInt();
  if (kind == kServerSide)
    msg.readBits(16);  // the qport: the manager matched it to this slot already
  const bool fragment = (rawSequence & kFragmentBit) != 0;
  const int32_t sequence = int32_t(rawSequence & ~kFragmentBit);

  // A server-side channel owns its id; its client learns it from the first packet it receives,
  // and sends 0 until then. A client-side channel adopts the id of the first packet only.
  bool adopt = false;
  if (kind == kServerSide) {
    if (id == 0) {
      if (peerKnowsId)
        return false;
    } else if (id != channelId) {
      return false;
    }
  } else if (channelId == 0) {
    if (id <= 0)
      return false;
    adopt = true;
  } else if (id != channelId) {
    return false;
  }

  int start = 0;
  int length = 0;
  if (fragment) {
    // A fragment too short for its own header is refused before its id is taken.
    if (packetBits < headerBits + 32)
      return false;
    start = msg.readBits(16);
    length = msg.readBits(16);
  }
  if (adopt) {
    // The first packet of a connection is accepted whatever its number, and counts nothing as
    // dropped before it.
    channelId = id;
    incomingSequence = sequence - 1;
  }
  if (sequence <= incomingSequence)
    return false;
  // A number far ahead of the last one is no lost stretch of packets but a forged jump, which
  // would also make the real peer's packets look stale from then on.
  if (int64_t(sequence) - int64_t(incomingSequence) > kSequenceWindow)
    return false;
  if (kind == kServerSide && id == channelId)
    peerKnowsId = true;

  if (!fragment) {
    dropped = sequence - incomingSequence - 1;
    incomingSequence = sequence;
    // The payload is a data block: its first byte is the one past the aligned header.
    msg.setReadBit((headerBits / 8 + 1) * 8);
    return true;
  }

  if (sequence != fragmentSequence) {
    fragmentSequence = sequence;
    fragmentLength = 0;
  }
  // A lost piece spoils the message until the next one starts.
  if (start != fragmentLength || length < 0 || length > kFragmentSize ||
      fragmentLength + length > kMaxMessageSize)
    return false;
  if (!msg.readData(fragmentBuffer + fragmentLength, length))
    return false;
  fragmentLength += length;
  if (length == kFragmentSize)
    return false;
  uint8_t* data = msg.getData();
  if (!data || fragmentLength + 5 > msg.getMaxSize()) {
    fragmentLength = 0;
    return false;
  }
  dropped = sequence - incomingSequence - 1;
  incomingSequence = sequence;
  msg.setWriteBit(0);
  msg.setReadBit(0);
  msg.writeInt(sequence);
  std::memcpy(data + 4, fragmentBuffer, size_t(fragmentLength));
  msg.setWriteBit(fragmentLength * 8 + 32);
  msg.setReadBit(32);
  fragmentLength = 0;
  return true;
}

bool NetChannel::queueReliable(const BitMsg& msg) {
  if (reliableSequence - reliableAcknowledge >= kReliableSlots)
    return false;
  if (msg.isOverflowed() || !msg.getData() || msg.getSize() > kMaxReliableSize)
    return false;
  ++reliableSequence;
  BitMsg& slot = reliableSlots[reliableSequence & (kReliableSlots - 1)];
  slot.clear();
  slot.writeData(msg.getData(), msg.getSize());
  return true;
}

bool NetChannel::queueReliableString(const char* text, int typeByte) {
  uint8_t buffer[kPacketBufferSize];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeByte(typeByte);
  msg.writeString(text);
  return queueReliable(msg);
}

void NetChannel::writeReliable(BitMsg& msg, int reserveBytes) {
  msg.writeInt(reliableReceived);
  msg.writeInt(reliableAcknowledge + 1);
  for (int32_t number = reliableAcknowledge + 1; number <= reliableSequence; ++number) {
    const BitMsg& slot = reliableSlots[number & (kReliableSlots - 1)];
    const int length = slot.getSize() - 1;
    // Length, a partly used byte and the block's skipped byte, then the terminator.
    const int needed = length + 5 + 2 + reserveBytes;
    if (msg.getMaxSize() - msg.getSize() < needed)
      break;
    msg.writeBits(length, 16);
    msg.writeData(slot.getData() + 1, length);
  }
  msg.writeBits(0, 16);
}

bool NetChannel::readReliable(BitMsg& msg, ReliableHandler handler, void* context) {
  const int32_t ack = msg.readInt();
  const int32_t first = msg.readInt();
  if (msg.isOverflowed())
    return false;
  acknowledge(ack);
  uint8_t buffer[kPacketBufferSize];
  for (int i = 0; i <= kReliableSlots; ++i) {
    const int length = msg.readBits(16);
    if (length == 0)
      return true;
    if (length < 0 || length > kMaxReliableSize || i == kReliableSlots)
      return false;
    if (!msg.readData(buffer, length))
      return false;
    const int64_t number = int64_t(first) + i;
    if (number != int64_t(reliableReceived) + 1)
      continue;  // seen already (or beyond a gap, which the sender never makes)
    reliableReceived = int32_t(number);
    BitMsg message;
    message.initRead(buffer, length);
    if (handler && !handler(context, message))
      return false;
  }
  return false;
}

void NetChannel::acknowledge(int32_t number) {
  // Only numbers we queued count, and an older report never takes acknowledgement back.
  if (number > reliableAcknowledge && number <= reliableSequence)
    reliableAcknowledge = number;
}

int NetChannel::packetCost(int bytes) {
  const int lineBytes = bytes < 1373 ? bytes + 48 : 1420;
  return lineBytes * 1000 / 25000;
}

int32_t NetChannel::clockMs() {
  int32_t ms = int32_t(platformMilliseconds() & 0x3fffffff);
  return ms == 0 ? 1 : ms;
}
