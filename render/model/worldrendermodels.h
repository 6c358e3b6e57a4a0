// The render side of the world and of collision: map models become static render models
// (g_worldModelSink), collision reads render models (g_collisionRenderModels) and the materials
// (g_collisionMaterialAccess), and collision debug polygons go to the scene renderer
// (g_collisionDebugDraw). Installed while the render-model manager lives. Main thread only.
#pragma once

class BaseModel;
class RenderModel;
struct WorldModel;

// Sets the four hooks (each only when it is empty); removes those it set.
void installWorldRenderHooks();
void removeWorldRenderHooks();

// A listed mode-3 model with the world-model flag, one surface per map surface in the map's order
// (back sides of two-sided lit materials included), or a shadow model (below); null without a
// render-model manager.
RenderModel* buildWorldRenderModel(const WorldModel& model);
// The same into an existing model (its old surfaces and geometry are freed first).
void fillWorldRenderModel(BaseModel* out, const WorldModel& model);
// A "shadowModel" block's volume: one surface whose shadow arrays hold the points (w 1) and the
// indexes, with the block's cap flags and plane bits; no surface for an empty block.
void fillShadowRenderModel(BaseModel* out, const WorldModel& model);
// Map unload: frees every listed model with the world-model flag (the models the world files made);
// the number freed.
int freeWorldRenderModels();
