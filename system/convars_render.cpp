// Console variables of the renderer, the render device and the texture manager, kept here until
// their readers land beside them (each then moves next to the code that reads it).
#include "lib/interface/convarsystem.h"

// clang-format off
static ConVar r_debugStencil("r_debugStencil", "0", 0x2001, "developer use only", 0.0f, 1.0f);
static ConVar r_viewwidth("r_viewwidth", "800", 0x10012, "screen width");
static ConVar r_viewheight("r_viewheight", "600", 0x10012, "screen height");
static ConVar r_colordepth("r_colordepth", "32", 0x10012, "screen color quality");
static ConVar r_lightquality("r_lightquality", "2", 0x30012, "0=lightmap, 1=hybrid, 2=dynamic", 0.0f, 2.0f);
static ConVar r_clearcolor("r_clearcolor", "0 0 0", 0x10010, "screen clear color");
static ConVar r_fullscreen("r_fullscreen", "1", 0x20011, "game will run in full screen mode");
static ConVar r_mode("r_mode", "1", 0x20012, "used to determine the current vid resolution");
static ConVar r_modelist("r_modelist", "", 0x10, "delimeted list of available video resolutions");
static ConVar r_deviceAspectRatio("r_deviceAspectRatio", "0", 0x2);
static ConVar r_showtris("r_showtris", "0", 0x2011, "0=disable, 1=overlay, 2=depth disabled, 3=no culling");
static ConVar r_shownodraws("r_shownodraws", "0", 0x2011);
static ConVar r_debugLineThickness("r_debugLineThickness", "1.5", 0x2014, "thickness of debug render lines");
static ConVar r_showdecals("r_showdecals", "0", 0x2011, "0=disable, 1=overlay");
static ConVar r_shownormals("r_shownormals", "0", 0x2012, "displays model normals (including tangents)");
static ConVar r_shownormalslength("r_shownormalslength", "2", 0x2014, "length to use when displaying normals");
static ConVar r_showorigin("r_showorigin", "0", 0x2011, "displays world origin & axis");
static ConVar r_showLights("r_showLights", "0", 0x2012);
static ConVar r_showLightTris("r_showLightTris", "0", 0x2011);
static ConVar r_showgridlight("r_showgridlight", "0", 0x2011);
static ConVar r_showPortals("r_showPortals", "0", 0x2011, "render area portals");
static ConVar r_singlelight("r_singlelight", "-1", 0x2012);
static ConVar r_singlearea("r_singlearea", "-1", 0x2012, "renders a single area by index");
static ConVar r_lightScale("r_lightScale", "2", 0x2014, "multiplied by the light's own intensity");
static ConVar r_bumpScale("r_bumpScale", "2", 0x2014, "multiplied by the normal map intensity");
static ConVar r_useScissor("r_useScissor", "1", 0x2011, "use screen scissoring while rendering");
static ConVar r_zNear("r_zNear", "3", 0x14, "camera near clipping plane");
static ConVar r_shadows("r_shadows", "1", 0x20011);
static ConVar r_useDepthBoundsTest("r_useDepthBoundsTest", "1", 0x22011);
static ConVar r_smp("r_smp", "1", 0x22011, "enable symmetrical multiprocessing");
static ConVar r_showShadows("r_showShadows", "0", 0x12);
static ConVar r_showSilhouette("r_showSilhouette", "0", 0x14);
static ConVar r_showEdges("r_showEdges", "0", 0x14);
static ConVar r_shadowPolygonFactor("r_shadowPolygonFactor", "0", 0x20014);
static ConVar r_shadowPolygonOffset("r_shadowPolygonOffset", "-1", 0x20014);
static ConVar r_useEmapShadows("r_useEmapShadows", "1", 0x20014);
static ConVar r_skipDynamicShadows("r_skipDynamicShadows", "0", 0x12);
static ConVar r_skipMirrorMaps("r_skipMirrorMaps", "0", 0x2011);
// Archived: the sample configuration turns the heavy glow off, and "writecfg" must keep that.
static ConVar r_skipBloomFilter("r_skipBloomFilter", "0", 0x22011);
static ConVar r_useMirrorClip("r_useMirrorClip", "0", 0x2011);
static ConVar r_skipWorldRender("r_skipWorldRender", "0", 0x22011, "pass on environment rendering");
static ConVar r_renderEntityBounds("r_renderEntityBounds", "0", 0x11);
static ConVar r_skipLights("r_skipLights", "0", 0x11, "render only ambient geometry");
static ConVar r_skipFogLights("r_skipFogLights", "0", 0x11, "skip rendering of fog volumes");
static ConVar r_skipAmbientLights("r_skipAmbientLights", "0", 0x20011, "skip rendering of ambient lights");
static ConVar r_skipPostProcess("r_skipPostProcess", "0", 0x20011, "skip all post processing");
static ConVar r_skipDynamicTextures("r_skipDynamicTextures", "0", 0x20011, "skip all dynamic mirror rendering");
static ConVar r_skipOcclusion("r_skipOcclusion", "0", 0x20011, "skip render dark shape for partially occluded entities");
static ConVar r_showTexture("r_showTexture", "-1", 0x12, "specify a texture index");
static ConVar r_swapInterval("r_swapInterval", "0", 0x20001, "wait for v-blank");
static ConVar r_debugParticles("r_debugParticles", "0", 0x2001, "debug particle stats");
static ConVar r_skipJointTransform("r_skipJointTransform", "0", 0x2001);
static ConVar r_shadowMapBias("r_shadowMapBias", "0.01", 0x22014, "global depth bias of shadow maps (debugging)");
static ConVar r_noEffectUpdate("r_noEffectUpdate", "0", 0x1, "debug: disable particle simulations");
// clang-format on
