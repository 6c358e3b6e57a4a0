// Console variables of the common manager and the main loop, kept here
// until their readers land beside them.
#include "lib/interface/convarsystem.h"

// clang-format off
static ConVar vid_maxfps("vid_maxfps", "200", 0x20012, "", 10.0f, 1024.0f);
static ConVar com_showFPS("com_showFPS", "0", 0x20011, "", 0.0f, 1.0f);
static ConVar com_showArea("com_showArea", "0", 0x11);
static ConVar g_mapname("g_mapname", "", 0x8, "name of active map");
static ConVar timescale("timescale", "1", 0x814);
// clang-format on
