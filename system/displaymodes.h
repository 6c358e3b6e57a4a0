// The display-mode list the window is made from: the driver's modes filtered
// against the desktop, sorted and without duplicates, and the choice of mode.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/window.h"

// Keeps modes with a refresh rate at least the desktop's, a width of at least
// 640 and a colour depth of at least 32; sorts by width, height, depth, refresh
// rate and fixed output; of modes equal in width, height and depth only the
// first (lowest refresh rate) stays.
std::vector<PlatformDisplayMode> filterDisplayModes(const PlatformDisplayMode* modes, int count,
                                                    const PlatformDisplayMode& desktop);

// The mode number for the requested one: a negative request takes the first
// 640 x 480 mode (0 when there is none); the result is clamped to the list.
int chooseDisplayMode(const std::vector<PlatformDisplayMode>& modes, int requested);

// "%4dx%-4d" of mode 0, then ";%4dx%-4d" per further mode, into out.
void buildModeListText(const std::vector<PlatformDisplayMode>& modes, char* out, size_t size);
