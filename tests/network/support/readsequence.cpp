// The script-driven reader sequence shared by the random-input tests and the fuzz harnesses.
#include "tests/network/support/readsequence.h"

#include <cstring>

#include "lib/interface/usercmd.h"
#include "lib/keydict.h"
#include "network/bitmsg.h"

namespace {

// Every typed reader once, with sizes and bit counts taken from the script, plus the delta coder
// reading the same message as its own base.
constexpr int kReaderCount = 30;

}  // namespace

size_t readOneValue(BitMsg& msg, const uint8_t* script, size_t length) {
  if (length == 0) {
    return 0;
  }
  const uint8_t pick = script[0] % kReaderCount;
  const uint8_t arg = length > 1 ? script[1] : script[0];
  size_t used = 2;
  char text[BitMsg::MAX_STRING_CHARS];
  uint8_t bytes[256];
  switch (pick) {
    case 0:
      msg.readBits(1 + arg % 32);
      break;
    case 1:
      msg.readBits(-(1 + arg % 31));
      break;
    case 2:
      msg.readBool();
      used = 1;
      break;
    case 3:
      msg.readChar();
      used = 1;
      break;
    case 4:
      msg.readByte();
      used = 1;
      break;
    case 5:
      msg.readShort();
      used = 1;
      break;
    case 6:
      msg.readInt();
      used = 1;
      break;
    case 7:
      msg.readFloat();
      used = 1;
      break;
    case 8:
      msg.readFloatBits(2 + arg % 7, 1 + (arg >> 3) % 23);
      break;
    case 9:
      msg.readAngle16();
      used = 1;
      break;
    case 10:
      msg.readDir(arg % 40);
      break;  // includes refused counts
    case 11:
      msg.readDeltaBits(int8_t(arg), 1 + arg % 32);
      break;
    case 12:
      msg.readDeltaChar(arg);
      break;
    case 13:
      msg.readDeltaByte(arg);
      break;
    case 14:
      msg.readDeltaShort(arg);
      break;
    case 15:
      msg.readDeltaInt(arg);
      break;
    case 16:
      msg.readDeltaFloat(float(arg));
      break;
    case 17: {
      static const int kSizes[4] = {0, 1, 5, int(sizeof(text))};
      msg.readString(text, kSizes[arg % 4]);
      break;
    }
    case 18:
      msg.readString(text, arg % 2 ? 3 : int(sizeof(text)), false);
      break;
    case 19: {
      KeyDict dict;
      KeyDict base;
      base.set("seed", "1");
      msg.readKeyDict(dict, arg & 1 ? &base : nullptr);
      break;
    }
    case 20: {
      UserCmd base;
      std::memset(&base, arg, sizeof(base));
      UserCmd cmd;
      msg.readDeltaUserCmd(base, cmd);
      break;
    }
    case 21:
      msg.readData(bytes, arg);
      break;
    case 22:
      msg.readBytes(bytes, arg % 40);
      break;
    case 23:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28: {
      // The delta coder reading the message as the delta, with and without the message itself as
      // the base (both advance through the same bytes).
      BitMsgDelta delta;
      delta.initReading(arg & 1 ? &msg : nullptr, nullptr, &msg);
      switch (pick) {
        case 23:
          delta.readBits(1 + arg % 32);
          break;
        case 24:
          delta.readDeltaBits(arg, -(1 + arg % 31));
          break;
        case 25:
          delta.readFloatBits(2 + arg % 7, 1 + (arg >> 3) % 23);
          break;
        case 26:
          delta.readDir(6 + arg % 27);
          break;
        case 27:
          delta.readString(text, arg % 2 ? 2 : int(sizeof(text)));
          break;
        default:
          delta.readDeltaFloatBits(1.5f, 2 + arg % 7, 1 + (arg >> 3) % 23);
          break;
      }
      break;
    }
    default: {
      // Seek to any written bit.
      const int bit = int(arg) * 7;
      msg.setReadBit(bit < msg.getWriteBit() ? bit : msg.getWriteBit());
      break;
    }
  }
  return used > length ? length : used;
}

bool readSequence(BitMsg& msg, const uint8_t* script, size_t length) {
  size_t at = 0;
  while (at < length) {
    at += readOneValue(msg, script + at, length - at);
    if (msg.getReadBit() > msg.getWriteBit()) {
      return false;
    }
  }
  return true;
}
