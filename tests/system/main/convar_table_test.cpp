// Pins every console variable the engine declares to its name, default, flags, range and
// description. Linked with the whole engine (this folder's suites are), so declarations beside their
// readers count too.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "system/cmdmanager.h"
#include "system/convarmanager.h"

namespace {

struct Expected {
  const char* name;
  const char* value;
  uint32_t flags;
  float minimum;
  float maximum;
  const char* description;
};

// In declaration order; a range of 1..-1 means none.
const Expected kEngineVars[] = {
    {"vid_maxfps", "200", 0x20012, 10.0f, 1024.0f, ""},
    {"com_showFPS", "0", 0x20011, 0.0f, 1.0f, ""},
    {"com_showArea", "0", 0x11, 1.0f, -1.0f, ""},
    {"g_mapname", "", 0x8, 1.0f, -1.0f, "name of active map"},
    {"s_sfxvolume", "75", 0x20002, 0.0f, 100.0f, "sound effects & speech volume level"},
    {"s_musicvolume", "35", 0x20002, 0.0f, 100.0f, "music volume level"},
    {"s_mainvolume", "100", 0x20002, 0.0f, 100.0f, "overall volume percentage"},
    {"pm_alwaysrun", "1", 0x20001, 1.0f, -1.0f, "default movement is running speed"},
    {"m_pitch", "0.022", 0x20004, 1.0f, -1.0f, "rate at which to tilt camera up/down"},
    {"m_yaw", "0.022", 0x20004, 1.0f, -1.0f, "rate at which to turn camera"},
    {"m_sensitivity", "5", 0x20004, 1.0f, -1.0f, "multiplier for mouse speed"},
    {"m_uisensitivity", "1", 0x20004, 1.0f, -1.0f, "UI mouse speed"},
    {"m_smoothing", "1", 0x20001, 1.0f, -1.0f, "smooth mouse movement"},
    {"net_localip", "", 0x10000, 1.0f, -1.0f, "local IP address"},
    {"net_port", "0", 0x10002, 1.0f, -1.0f, "server's port"},
    {"net_sv_reconnectlimit", "3", 0x2, 1.0f, -1.0f, ""},
    {"net_sv_minPing", "0", 0x2, 1.0f, -1.0f, "reject low ping connections"},
    {"net_cl_timeout", "200", 0x2, 1.0f, -1.0f, ""},
    {"net_cl_maxpackets", "30", 0x2, 15.0f, 125.0f, ""},
    {"net_cl_packetdup", "1", 0x2, 0.0f, 5.0f, ""},
    {"r_debugStencil", "0", 0x2001, 0.0f, 1.0f, "developer use only"},
    {"fs_debug", "0", 0x9, 1.0f, -1.0f, "enables debug logging of all opened files"},
    {"fs_restrict", "0", 0x9, 1.0f, -1.0f, "restricts file filtering to only pak files"},
    {"fs_cdpath", "", 0x8, 1.0f, -1.0f, "path to cd/dvd drive"},
    {"fs_basepath", "", 0x8, 1.0f, -1.0f, "base install path"},
    {"fs_basegame", "", 0x8, 1.0f, -1.0f, ""},
    {"fs_game", "", 0x2008, 1.0f, -1.0f, ""},
    {"con_speed", "850", 0x2, 1.0f, -1.0f, "console scroll speed"},
    {"con_fontscale", "0.625", 0x4, 1.0f, -1.0f, "console font size"},
    {"con_devconsole", "0", 0x1, 1.0f, -1.0f, "opens a windows console"},
    {"con_notifytime", "0", 0x4, 1.0f, -1.0f, "display time for console text"},
    {"r_viewwidth", "800", 0x10012, 1.0f, -1.0f, "screen width"},
    {"r_viewheight", "600", 0x10012, 1.0f, -1.0f, "screen height"},
    {"r_colordepth", "32", 0x10012, 1.0f, -1.0f, "screen color quality"},
    {"r_lightquality", "2", 0x30012, 0.0f, 2.0f, "0=lightmap, 1=hybrid, 2=dynamic"},
    {"r_clearcolor", "0 0 0", 0x10010, 1.0f, -1.0f, "screen clear color"},
    {"r_fullscreen", "1", 0x20011, 1.0f, -1.0f, "game will run in full screen mode"},
    {"r_mode", "1", 0x20012, 1.0f, -1.0f, "used to determine the current vid resolution"},
    {"r_modelist", "", 0x10, 1.0f, -1.0f, "delimeted list of available video resolutions"},
    {"r_deviceAspectRatio", "0", 0x2, 1.0f, -1.0f, ""},
    {"r_showtris", "0", 0x2011, 1.0f, -1.0f, "0=disable, 1=overlay, 2=depth disabled, 3=no culling"},
    {"r_shownodraws", "0", 0x2011, 1.0f, -1.0f, ""},
    {"r_debugLineThickness", "1.5", 0x2014, 1.0f, -1.0f, "thickness of debug render lines"},
    {"r_showdecals", "0", 0x2011, 1.0f, -1.0f, "0=disable, 1=overlay"},
    {"r_shownormals", "0", 0x2012, 1.0f, -1.0f, "displays model normals (including tangents)"},
    {"r_shownormalslength", "2", 0x2014, 1.0f, -1.0f, "length to use when displaying normals"},
    {"r_showorigin", "0", 0x2011, 1.0f, -1.0f, "displays world origin & axis"},
    {"r_showLights", "0", 0x2012, 1.0f, -1.0f, ""},
    {"r_showLightTris", "0", 0x2011, 1.0f, -1.0f, ""},
    {"r_showgridlight", "0", 0x2011, 1.0f, -1.0f, ""},
    {"r_showPortals", "0", 0x2011, 1.0f, -1.0f, "render area portals"},
    {"r_singlelight", "-1", 0x2012, 1.0f, -1.0f, ""},
    {"r_singlearea", "-1", 0x2012, 1.0f, -1.0f, "renders a single area by index"},
    {"r_lightScale", "2", 0x2014, 1.0f, -1.0f, "multiplied by the light's own intensity"},
    {"r_bumpScale", "2", 0x2014, 1.0f, -1.0f, "multiplied by the normal map intensity"},
    {"r_skipSpecular", "0", 0x22011, 1.0f, -1.0f, "renders lit geometry without specular texture"},
    {"r_skipDiffuse", "0", 0x2011, 1.0f, -1.0f, "renders lit geometry without diffuse textures"},
    {"r_skipBump", "0", 0x22011, 1.0f, -1.0f, "renders lit geometry with simple shading"},
    {"r_useScissor", "1", 0x2011, 1.0f, -1.0f, "use screen scissoring while rendering"},
    {"r_zNear", "3", 0x14, 1.0f, -1.0f, "camera near clipping plane"},
    {"r_shadows", "1", 0x20011, 1.0f, -1.0f, ""},
    {"r_useDepthBoundsTest", "1", 0x22011, 1.0f, -1.0f, ""},
    {"r_smp", "1", 0x22011, 1.0f, -1.0f, "enable symmetrical multiprocessing"},
    {"r_showShadows", "0", 0x12, 1.0f, -1.0f, ""},
    {"r_showSilhouette", "0", 0x14, 1.0f, -1.0f, ""},
    {"r_showEdges", "0", 0x14, 1.0f, -1.0f, ""},
    {"r_shadowPolygonFactor", "0", 0x20014, 1.0f, -1.0f, ""},
    {"r_shadowPolygonOffset", "-1", 0x20014, 1.0f, -1.0f, ""},
    {"r_useEmapShadows", "1", 0x20014, 1.0f, -1.0f, ""},
    {"r_skipDynamicShadows", "0", 0x12, 1.0f, -1.0f, ""},
    {"r_skipMirrorMaps", "0", 0x2011, 1.0f, -1.0f, ""},
    {"r_skipBloomFilter", "0", 0x22011, 1.0f, -1.0f, ""},  // archived: the sample configuration sets it
    {"r_useMirrorClip", "0", 0x2011, 1.0f, -1.0f, ""},
    {"r_skipWorldRender", "0", 0x22011, 1.0f, -1.0f, "pass on environment rendering"},
    {"r_renderEntityBounds", "0", 0x11, 1.0f, -1.0f, ""},
    {"r_skipLights", "0", 0x11, 1.0f, -1.0f, "render only ambient geometry"},
    {"r_skipFogLights", "0", 0x11, 1.0f, -1.0f, "skip rendering of fog volumes"},
    {"r_skipAmbientLights", "0", 0x20011, 1.0f, -1.0f, "skip rendering of ambient lights"},
    {"r_skipPostProcess", "0", 0x20011, 1.0f, -1.0f, "skip all post processing"},
    {"r_skipDynamicTextures", "0", 0x20011, 1.0f, -1.0f, "skip all dynamic mirror rendering"},
    {"r_skipOcclusion", "0", 0x20011, 1.0f, -1.0f, "skip render dark shape for partially occluded entities"},
    {"r_showTexture", "-1", 0x12, 1.0f, -1.0f, "specify a texture index"},
    {"timescale", "1", 0x814, 1.0f, -1.0f, ""},
    {"in_mouse", "1", 0x20002, 1.0f, -1.0f, ""},
    {"in_joystick", "0", 0x20001, 1.0f, -1.0f, ""},
    {"in_joyBallScale", "0.02", 0x20004, 1.0f, -1.0f, ""},
    {"in_joyThreshold", "0.15", 0x20004, 1.0f, -1.0f, ""},
    {"r_swapInterval", "0", 0x20001, 1.0f, -1.0f, "wait for v-blank"},
    {"s_alwaysUnderWater", "0", 0x1, 0.0f, 1.0f, "mixer will treat all samples as if under water"},
    {"s_maxSampleLength", "10", 0x20002, 2.0f, 60.0f,
     "max play length (in seconds). larger sounds are streamed."},
    {"r_debugParticles", "0", 0x2001, 1.0f, -1.0f, "debug particle stats"},
    {"r_singleTexture", "-1", 0x2002, 1.0f, -1.0f, "uses the same texture for all 'bindImage' calls"},
    {"image_bias", "0", 0x20002, 0.0f, 64.0f, "bias the mip map sampling"},
    {"r_skipJointTransform", "0", 0x2001, 1.0f, -1.0f, ""},
    {"r_shadowMapBias", "0.01", 0x22014, 1.0f, -1.0f, "global depth bias of shadow maps (debugging)"},
    {"r_noEffectUpdate", "0", 0x1, 1.0f, -1.0f, "debug: disable particle simulations"},
    {"image_downSizeQuality", "1", 0x20002, 0.0f, 1.0f, "0 = nearest neighbor samples, 1 = box filter"},
    {"image_downSize", "0", 0x20001, 0.0f, 1.0f,
     "enables down sizing of diffuse images for video cards with low memory"},
    {"image_downSizeBump", "0", 0x20001, 0.0f, 1.0f,
     "enables down sizing of normal maps for video cards with low memory"},
    {"image_downSizeSpecular", "0", 0x20001, 0.0f, 1.0f,
     "enables down sizing of specular maps for video cards with low memory"},
    {"image_downSizeLimit", "256", 0x20002, 4.0f, 1024.0f, "limits diffuse textures to the specified size"},
    {"image_downSizeBumpLimit", "256", 0x20002, 4.0f, 1024.0f,
     "limits normal map textures to the specified size"},
    {"image_downSizeSpecularLimit", "64", 0x20002, 4.0f, 1024.0f,
     "limits specular map textures to the specified size"},
};

}  // namespace

TEST(ConVarTableTest, EveryEngineVariableIsDeclaredAsSpecified) {
  ASSERT_EQ(sizeof(kEngineVars) / sizeof(kEngineVars[0]), 103u);
  getConVarManager();
  std::set<std::string> seen;
  for (const Expected& e : kEngineVars) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(seen.insert(e.name).second) << "listed twice";
    ConVar* var = g_conVarSystem->find(e.name);
    ASSERT_NE(var, nullptr);
    EXPECT_STREQ(var->getName(), e.name);  // exact case
    EXPECT_STREQ(var->getString(), e.value);
    EXPECT_EQ(var->getFlags(), e.flags);
    EXPECT_EQ(var->getMinimum(), e.minimum);
    EXPECT_EQ(var->getMaximum(), e.maximum);
    EXPECT_STREQ(var->getDescription(), e.description);
    int declarations = 0;
    for (ConVar* d = ConVar::firstDeclaration(); d; d = d->nextDeclaration()) {
      if (d->getRegistered() != var)
        continue;
      // Every declaration of the name agrees (which one registers first depends on link order).
      ++declarations;
      EXPECT_STREQ(d->declaredName(), e.name);
      EXPECT_STREQ(d->declaredDefault(), e.value);
      EXPECT_EQ(d->declaredFlags(), e.flags);
      EXPECT_EQ(d->declaredMinimum(), e.minimum);
      EXPECT_EQ(d->declaredMaximum(), e.maximum);
      EXPECT_STREQ(d->declaredDescription(), e.description);
    }
    EXPECT_GE(declarations, 1);
  }
  destroyConVarManager();
  // With the manager gone every declaration reads its own record again.
  for (ConVar* d = ConVar::firstDeclaration(); d; d = d->nextDeclaration())
    EXPECT_FALSE(d->isRegistered());
}
