// The sample game's side of the effects: the sample effects that need the game (a decal sprayed on a
// wall, particles bouncing off the floor through collision traces with a puff at each impact, a
// spark with its trail, tumbling models), the trigger that jolts the view, the view effects the
// game applies (shake, tunnel vision, double vision) and the game-interface calls of the effects.
#pragma once

struct GameImports;
struct RenderView;
class DeclEffect;
class Mat3;
class Vec3;

namespace demofx {

// Keeps the game's imports (the block lives as long as the module) and registers the variables.
void init(const GameImports* imports);
// "g_demoEffectsOnly": false for a sample effect other than the one named (when one is named).
bool plays(const char* effectName);
// Where the effects stand: the fixed scene's centre or a spot ahead of the player start; in a map the
// wall for the decal and the trigger are found from the start.
void place(const Vec3& center, const Vec3& start, float yawDegrees, bool inMap);
// One game step: starts and moves the effects, runs the impact effects, checks the trigger.
void step(int milliseconds, bool show, const Vec3& playerOrigin);
// The engine cleared every effect (a map went): handles are forgotten, nothing is freed.
void forget();
void stop();

// Around the scene: the view shakes and doubles before it is drawn; tunnel vision draws after it.
void adjustView(RenderView& view);
void drawOverlays();

// GameInterface calls of the effects runtime.
void applyViewEffect(int kind, const char* materialName, float duration, float intensity);
void spawnImpactEffect(const DeclEffect* effect, const Vec3& position, const Mat3& axis);
void getViewOrigin(Vec3* position, float* second);
void traceParticle(void* trace, const Vec3& start, const Vec3& end);

}  // namespace demofx
