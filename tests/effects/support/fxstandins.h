// Recording stand-ins of what the effects call outside their library: the render system (lights,
// decals, entity vertices, text), the sound system with its emitters, and the game interface (view
// effects, impact effects, particle traces), plus a fixture with the real declaration manager over
// an in-memory file system.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "effects/decleffect.h"
#include "effects/effectsmanager.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/soundsystem.h"
#include "support/capturecmdsystem.h"
#include "support/memoryiosystem.h"
#include "support/nullgame.h"
#include "support/nullrender.h"

namespace fxtest {

class RecordingRenderSystem : public NullRenderSystem {
 public:
  RecordingRenderSystem();
  ~RecordingRenderSystem() override;

  struct Decal {
    float winding[4][5];
    Vec3 origin;
    bool offsetOrigin;
    float depth;
    Material* material;
    int time;
  };
  struct Text {
    float x, y, scale;
    std::string text;
  };

  int addLightDef(const RenderLight* light) override;
  void updateLightDef(int index, const RenderLight* light) override;
  void freeLightDef(int index) override;
  bool getEntityVertex(int index, Vec3* position, Vec3* normal, int vertex) override;
  void projectDecal(const float (*winding)[5], const Vec3& origin, bool offsetOrigin, float depth, Material* material,
                    int time) override;
  int setTextAlignment(int mode) override;
  void setColor(float r, float g, float b, float a) override;
  void drawText640(int font, float x, float y, float scale, const char* text, int length) override;

  std::vector<RenderLight> lights;  // by handle
  std::vector<bool> liveLights;
  int lightAdds = 0;
  int lightUpdates = 0;
  int lightFrees = 0;
  std::vector<Decal> decals;
  std::vector<Text> texts;
  int alignment = -1;
  float color[4] = {};
  Vec3 entityVertex{5.0f, 6.0f, 7.0f};
  int entityVertexCalls = 0;

 private:
  RenderSystem* previous_;
};

class RecordingEmitter : public SoundEmitter {
 public:
  void updateEmitter(const Vec3& origin, const Vec3& velocity, const SoundShaderParms* overrides) override;
  int startSound(SoundShader* shader, int channel, float diversity, int flags) override;
  void stopSound(int channel) override { stops.push_back(channel); }
  bool isPlaying(int) override { return playing; }
  float currentAmplitude() override { return 0.0f; }
  void fadeSound(int, float, float) override {}
  int index() override { return 1; }

  bool playing = true;
  std::vector<int> stops;
  std::vector<int> startChannels;
  std::vector<SoundShader*> started;
  std::vector<Vec3> origins;
  std::vector<float> volumes;  // of each override, -1 without one
  std::vector<int> overrideFlags;
  int* deletedCounter = nullptr;
  ~RecordingEmitter() override {
    if (deletedCounter)
      ++*deletedCounter;
  }
};

class RecordingSoundSystem : public SoundSystem {
 public:
  RecordingSoundSystem();
  ~RecordingSoundSystem() override;

  SoundEmitter* allocSoundEmitter() override;
  void stopAllSounds() override {}
  void setMuted(bool) override {}
  void fadeSoundClass(int, float, float) override {}
  float currentFadeLevel(int) override { return 0.0f; }
  void stopAllEmitters() override {}
  void fadeOutAllEmitters() override {}
  int playLocalShader(SoundShader*, int, int) override { return 0; }
  int playLocalSound(const char*, int, int) override { return 0; }
  void stopLocalSound(int) override {}
  bool fadeLocalSound(float, float, int) override { return false; }
  int localSoundPosition(int) override { return 0; }
  SoundStream* openAnalysisStream(const char*, SoundVisState*) override { return nullptr; }
  bool analyzeStream(SoundStream*, SoundVisState*, int64_t) override { return false; }
  void closeStream(SoundStream*) override {}
  int streamBytesPerSecond(SoundStream*) override { return 0; }
  int streamBytesPerFrame(SoundStream*) override { return 0; }
  void setListener(const Vec3&, const Mat3&, const Vec3&, bool) override {}
  void update() override {}
  void setBackground(bool) override {}
  void setSoundWindow(void*) override {}

  bool refuse = false;  // allocSoundEmitter gives null
  std::vector<RecordingEmitter*> emitters;  // owned by the code under test once handed out
  int deleted = 0;

 private:
  SoundSystem* previous_;
};

class RecordingGame : public NullGame {
 public:
  RecordingGame();
  ~RecordingGame() override;

  struct ViewEffect {
    int kind;
    std::string material;
    float duration;
    float intensity;
  };
  struct Impact {
    const DeclEffect* effect;
    Vec3 position;
    Mat3 axis;
    Vec3 origin;
    float parms[5];
  };
  struct Trace {
    Vec3 start, end;
  };

  void applyViewEffect(int kind, const char* material, float duration, float intensity) override {
    viewEffects.push_back({kind, material ? material : "(null)", duration, intensity});
  }
  void spawnImpactEffect(const DeclEffect* effect, const Vec3& position, const Mat3& axis, int, const Vec3& origin,
                         int, const float* parms) override {
    Impact i{effect, position, axis, origin, {}};
    for (int k = 0; k < 5; k++)
      i.parms[k] = parms[k];
    impacts.push_back(i);
  }
  void getViewOrigin(Vec3* position, float* second) override {
    *position = viewOrigin;
    if (second)
      *second = 0.0f;
  }
  // A floor at z = floorZ with normal +z.
  void traceParticle(void* trace, const Vec3& start, const Vec3& end, int, int) override;

  Vec3 viewOrigin;
  float floorZ = -1e30f;
  std::vector<ViewEffect> viewEffects;
  std::vector<Impact> impacts;
  std::vector<Trace> traces;

 private:
  GameInterface* previous_;
};

// The declaration manager over an in-memory file system, with captured output.
class EffectsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // "<name>.fx" holding "effect <name> { body }"; the effect found (and parsed).
  DeclEffect* define(const std::string& name, const std::string& body);
  // A table of that name ("<name>.mtx").
  void defineTable(const std::string& name, const std::string& body);
  // A material of that name without stages ("<name>.mtx").
  void defineMaterial(const std::string& name);
  // Parses a body into an effect no manager holds.
  bool parseBody(DeclEffect& effect, const std::string& body) {
    return effect.parse(body.c_str(), int(body.size()));
  }

  CaptureCmdSystem cmd_;
  MemoryIOSystem io_;
};

// Params with identity axis, at the origin, drawn and looping as asked.
RenderEffectParams makeParams(const DeclEffect* decl, bool looping = false);

}  // namespace fxtest
