#include "effects/support/fxstandins.h"

#include "lib/interface/effectssystem.h"
#include "render/material/expression.h"
#include "system/declmanager.h"

namespace fxtest {

RecordingRenderSystem::RecordingRenderSystem() : previous_(g_renderSystem) {
  g_renderSystem = this;
}

RecordingRenderSystem::~RecordingRenderSystem() {
  g_renderSystem = previous_;
}

int RecordingRenderSystem::addLightDef(const RenderLight* light) {
  ++lightAdds;
  lights.push_back(*light);
  liveLights.push_back(true);
  return int(lights.size()) - 1;
}

void RecordingRenderSystem::updateLightDef(int index, const RenderLight* light) {
  ++lightUpdates;
  EXPECT_TRUE(index >= 0 && index < int(lights.size()) && liveLights[size_t(index)]) << "update of light " << index;
  if (index >= 0 && index < int(lights.size()))
    lights[size_t(index)] = *light;
}

void RecordingRenderSystem::freeLightDef(int index) {
  ++lightFrees;
  EXPECT_TRUE(index >= 0 && index < int(lights.size()) && liveLights[size_t(index)]) << "free of light " << index;
  if (index >= 0 && index < int(lights.size()))
    liveLights[size_t(index)] = false;
}

bool RecordingRenderSystem::getEntityVertex(int, Vec3* position, Vec3*, int) {
  ++entityVertexCalls;
  *position = entityVertex;
  return true;
}

void RecordingRenderSystem::projectDecal(const float (*winding)[5], const Vec3& origin, bool offsetOrigin, float depth,
                                         Material* material, int time) {
  Decal d;
  for (int i = 0; i < 4; i++)
    for (int k = 0; k < 5; k++)
      d.winding[i][k] = winding[i][k];
  d.origin = origin;
  d.offsetOrigin = offsetOrigin;
  d.depth = depth;
  d.material = material;
  d.time = time;
  decals.push_back(d);
}

int RecordingRenderSystem::setTextAlignment(int mode) {
  alignment = mode;
  return 0;
}

void RecordingRenderSystem::setColor(float r, float g, float b, float a) {
  color[0] = r;
  color[1] = g;
  color[2] = b;
  color[3] = a;
}

void RecordingRenderSystem::drawText640(int, float x, float y, float scale, const char* text, int length) {
  texts.push_back({x, y, scale, std::string(text, size_t(length))});
}

void RecordingEmitter::updateEmitter(const Vec3& origin, const Vec3&, const SoundShaderParms* overrides) {
  origins.push_back(origin);
  volumes.push_back(overrides ? overrides->volume : -1.0f);
  overrideFlags.push_back(overrides ? overrides->flags : -1);
}

int RecordingEmitter::startSound(SoundShader* shader, int channel, float, int) {
  started.push_back(shader);
  startChannels.push_back(channel);
  return 100;
}

RecordingSoundSystem::RecordingSoundSystem() : previous_(g_soundSystem) {
  g_soundSystem = this;
}

RecordingSoundSystem::~RecordingSoundSystem() {
  g_soundSystem = previous_;
}

SoundEmitter* RecordingSoundSystem::allocSoundEmitter() {
  if (refuse)
    return nullptr;
  RecordingEmitter* e = new RecordingEmitter;
  e->deletedCounter = &deleted;
  emitters.push_back(e);
  return e;
}

RecordingGame::RecordingGame() : previous_(g_gameInterface) {
  g_gameInterface = this;
}

RecordingGame::~RecordingGame() {
  g_gameInterface = previous_;
}

void RecordingGame::traceParticle(void* trace, const Vec3& start, const Vec3& end, int, int) {
  traces.push_back({start, end});
  ParticleTraceResult* result = static_cast<ParticleTraceResult*>(trace);
  result->fraction = 1.0f;
  result->endPosition = end;
  if (start.z >= floorZ && end.z < floorZ) {
    const float f = (start.z - floorZ) / (start.z - end.z);
    result->fraction = f;
    result->endPosition = start + (end - start) * f;
    result->normal = Vec3(0.0f, 0.0f, 1.0f);
  }
}

void EffectsTest::SetUp() {
  registerEffectDeclKind();
  g_particlePool.relinkAll();
  std::srand(1234);
  ASSERT_NE(createDeclSystem(), nullptr);
}

void EffectsTest::TearDown() {
  destroyDeclSystem();
  g_particlePool.relinkAll();
  clearExpressions();
}

DeclEffect* EffectsTest::define(const std::string& name, const std::string& body) {
  io_.addFile(name + ".fx", "effect " + name + "\n{\n" + body + "\n}\n");
  return findEffect(name.c_str(), false);
}

void EffectsTest::defineTable(const std::string& name, const std::string& body) {
  io_.addFile(name + ".mtx", "table " + name + " " + body + "\n");
}

void EffectsTest::defineMaterial(const std::string& name) {
  io_.addFile(name + ".mtx", "material " + name + "\n{\n\ttranslucent\n}\n");
}

RenderEffectParams makeParams(const DeclEffect* decl, bool looping) {
  RenderEffectParams p;
  p.decl = decl;
  p.draw = true;
  p.looping = looping;
  return p;
}

}  // namespace fxtest
