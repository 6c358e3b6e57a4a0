// Console variables of the sound manager, kept here until their readers land beside them.
#include "lib/interface/convarsystem.h"

// clang-format off
static ConVar s_sfxvolume("s_sfxvolume", "75", 0x20002, "sound effects & speech volume level", 0.0f, 100.0f);
static ConVar s_musicvolume("s_musicvolume", "35", 0x20002, "music volume level", 0.0f, 100.0f);
static ConVar s_mainvolume("s_mainvolume", "100", 0x20002, "overall volume percentage", 0.0f, 100.0f);
static ConVar s_alwaysUnderWater("s_alwaysUnderWater", "0", 0x1, "mixer will treat all samples as if under water", 0.0f, 1.0f);
static ConVar s_maxSampleLength("s_maxSampleLength", "10", 0x20002, "max play length (in seconds). larger sounds are streamed.", 2.0f, 60.0f);
// clang-format on
