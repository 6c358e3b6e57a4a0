// Translation of keyboard scan codes (set 1, with the extended flag) into the
// engine's key codes.
#pragma once

// 0 for a scan code without a key (and for 128 and above).
int mapWin32Key(int scanCode, bool extended);
