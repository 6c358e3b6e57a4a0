// Display-mode filtering, ordering and choice; no platform calls here so the
// rules can be tested on made-up lists.
#include "system/displaymodes.h"

#include <algorithm>
#include <cstdio>

std::vector<PlatformDisplayMode> filterDisplayModes(const PlatformDisplayMode* modes, int count,
                                                    const PlatformDisplayMode& desktop) {
  std::vector<PlatformDisplayMode> list;
  for (int i = 0; i < count; ++i) {
    const PlatformDisplayMode& mode = modes[i];
    if (mode.refreshRate >= desktop.refreshRate && mode.width >= 640 && mode.bitsPerPixel >= 32)
      list.push_back(mode);
  }
  std::stable_sort(list.begin(), list.end(), [](const PlatformDisplayMode& a, const PlatformDisplayMode& b) {
    if (a.width != b.width)
      return a.width < b.width;
    if (a.height != b.height)
      return a.height < b.height;
    if (a.bitsPerPixel != b.bitsPerPixel)
      return a.bitsPerPixel < b.bitsPerPixel;
    if (a.refreshRate != b.refreshRate)
      return a.refreshRate < b.refreshRate;
    return a.fixedOutput < b.fixedOutput;
  });
  for (size_t i = list.size(); i-- > 1;) {
    const PlatformDisplayMode& a = list[i];
    const PlatformDisplayMode& b = list[i - 1];
    if (a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel)
      list.erase(list.begin() + (std::ptrdiff_t)i);
  }
  return list;
}

int chooseDisplayMode(const std::vector<PlatformDisplayMode>& modes, int requested) {
  int mode = requested;
  if (mode < 0) {
    for (size_t i = 0; i < modes.size(); ++i) {
      if (modes[i].width == 640 && modes[i].height == 480) {
        mode = (int)i;
        break;
      }
    }
  }
  int last = (int)modes.size() - 1;
  if (mode > last)
    mode = last;
  if (mode < 0)
    mode = 0;
  return mode;
}

void buildModeListText(const std::vector<PlatformDisplayMode>& modes, char* out, size_t size) {
  if (!out || size == 0)
    return;
  out[0] = '\0';
  size_t used = 0;
  for (size_t i = 0; i < modes.size() && used < size; ++i) {
    int written = std::snprintf(out + used, size - used, i == 0 ? "%4dx%-4d" : ";%4dx%-4d", modes[i].width,
                                modes[i].height);
    if (written < 0 || (size_t)written >= size - used) {
      out[used] = '\0';
      break;
    }
    used += (size_t)written;
  }
}
