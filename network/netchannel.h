// NetChannel: one end of a sequenced connection over UDP. Numbers outgoing packets, refuses stale
// and duplicate ones, cuts large messages into fragments and joins them again, and keeps the queue
// of reliable messages that travel in every packet until the peer acknowledges them.
// The channel never touches the socket: finished packets go to a PacketSender.
#pragma once

#include <cstdint>

#include "lib/interface/networksystem.h"
#include "network/bitmsg.h"

// Where a channel's finished packets go (the network manager's sendPacket).
class PacketSender {
 public:
  virtual ~PacketSender() = default;
  virtual void sendPacket(int length, const void* bytes, const NetAddress& to) = 0;
};

class NetChannel {
 public:
  static constexpr int kFragmentSize = 1372;
  static constexpr int kMaxMessageSize = 16384;
  // The largest message sent: joined at the far end behind its 4-byte sequence number, it still
  // fits a 16,384-byte receive buffer.
  static constexpr int kMaxPayloadSize = kMaxMessageSize - 5;
  static constexpr int kPacketBufferSize = 1472;
  static constexpr int kReliableSlots = 64;
  // The largest reliable message: its bytes and the block's skipped byte fill a slot.
  static constexpr int kMaxReliableSize = kPacketBufferSize - 1;
  // Packets accepted at most this far past the last accepted number.
  static constexpr int kSequenceWindow = 4096;
  static constexpr int kClientSide = 1;
  static constexpr int kServerSide = 2;

  // Called for each reliable message taken from a peer's block, in order, exactly once; the
  // message reads from its own first byte. False stops reading the block.
  using ReliableHandler = bool (*)(void* context, BitMsg& message);

  NetChannel();
  NetChannel(const NetChannel&) = delete;
  NetChannel& operator=(const NetChannel&) = delete;

  void reset();
  void setup(int kind, const NetAddress& address, int qport);

  // Accepts a received packet. True when the caller is to read the message, which then starts
  // at the read position: the message's own first bit, whole or joined.
  bool process(BitMsg& msg);
  // Sends a message whole or starts its fragments. False (nothing sent) for an overflowed message
  // or one above kMaxPayloadSize, and while an earlier message's fragments are still going out.
  bool send(const BitMsg& msg, PacketSender& sender);
  void sendNextFragment(PacketSender& sender);
  bool sendData(int length, const void* bytes, PacketSender& sender);

  // Appends to the reliable queue; false when the queue is full, the message overflowed or it is
  // larger than a slot.
  bool queueReliable(const BitMsg& msg);
  bool queueReliableString(const char* text, int typeByte);
  // The reliable block: reliableReceived (32), the number of the first message carried (32), then
  // per message its length (16) and its bytes as a data block, and a length of 0. Messages stop
  // where the next would leave fewer than `reserveBytes` free in msg.
  void writeReliable(BitMsg& msg, int reserveBytes = 16);
  // Reads a peer's reliable block: takes its acknowledgement of our queue and hands every message
  // not seen before to the handler. False on a malformed block.
  bool readReliable(BitMsg& msg, ReliableHandler handler, void* context);
  // The peer's report of the last reliable number it has: moves reliableAcknowledge forward only,
  // never past what was queued.
  void acknowledge(int32_t number);

  static int packetCost(int bytes);
  // Milliseconds on the monotonic clock, positive and never 0 (server ids).
  static int32_t clockMs();
  // Server-side channels take unpredictable ids. Tests that count from a known point call
  // resetIdCounter (ids value + 1, value + 2, ...) and useRandomIds to go back.
  static void resetIdCounter(int32_t value);
  static void useRandomIds();

  int kind = 0;
  NetAddress remoteAddress;
  int32_t qport = 0;
  int32_t channelId = 0;
  BitMsg reliableSlots[kReliableSlots];
  int32_t reliableSequence = 0;
  int32_t reliableAcknowledge = 0;
  int32_t reliableReceived = 0;
  int32_t incomingSequence = 0;
  int32_t outgoingSequence = 0;
  int32_t dropped = 0;
  int32_t packetInterval = 0;
  int32_t lastReceiveTime = 0;
  int32_t fragmentSequence = 0;
  int32_t fragmentLength = 0;
  uint8_t fragmentBuffer[kMaxMessageSize];
  bool unsentFragments = false;
  int32_t unsentFragmentStart = 0;
  int32_t unsentLength = 0;
  uint8_t unsentBuffer[kMaxMessageSize];
  // Set once a packet carried this channel's own id: from then on id 0 is refused.
  bool peerKnowsId = false;

 private:
  void beginPacket(BitMsg& packet, int32_t sequence) const;
  uint8_t slotBuffers_[kReliableSlots][kPacketBufferSize];
};
