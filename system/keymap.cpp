// The scan-code table: unshifted US-layout characters in lower case, or the
// engine's own codes for the other keys.
#include "system/keymap.h"

namespace {
// Rows of 16 scan codes.
// clang-format off
const unsigned char kScanToKey[128] = {
    0,   27,  49,  50,  51,  52,  53,  54,  55,  56,  57,  48,  45,  61,  127, 9,
    113, 119, 101, 114, 116, 121, 117, 105, 111, 112, 91,  93,  13,  137, 97,  115,
    100, 102, 103, 104, 106, 107, 108, 59,  39,  96,  138, 92,  122, 120, 99,  118,
    98,  110, 109, 44,  46,  47,  138, 42,  136, 32,  129, 145, 146, 147, 148, 149,
    150, 151, 152, 153, 154, 131, 0,   143, 132, 142, 173, 134, 164, 135, 174, 144,
    133, 141, 139, 140, 0,   0,   0,   155, 156, 0,   0,   0,   0,   0,   0,   0,
};
// clang-format on
}  // namespace

int mapWin32Key(int scanCode, bool extended) {
  if (scanCode < 0 || scanCode >= 128)
    return 0;
  int key = kScanToKey[scanCode];
  if (extended) {
    if (key == 13)
      return 169;
    if (key == 47)
      return 172;
    if (key == 131)
      return 175;
    return key;
  }
  switch (key) {
    case 132:
      return 161;
    case 133:
      return 167;
    case 134:
      return 163;
    case 135:
      return 165;
    case 139:
      return 170;
    case 140:
      return 171;
    case 141:
      return 168;
    case 142:
      return 162;
    case 143:
      return 160;
    case 144:
      return 166;
    default:
      return key;
  }
}
