// How the common manager creates managers whose subsystems live in other
// libraries: each subsystem registers its create/shutdown/destroy entry points
// here from a static object, so a build without it keeps that manager absent
// (null) and every caller skips it.
#pragma once

enum ManagerId {
  kManagerDecl,           // mask 0x8
  kManagerConsole,        // mask 0x4 (the drop-down console)
  kManagerKeyBinds,       // mask 0x20
  kManagerRenderDevice,   // mask 0x40 | 0x80
  kManagerRenderModel,    // mask 0x200
  kManagerTexture,        // mask 0x800
  kManagerRender,         // mask 0x80
  kManagerSound,          // mask 0x400
  kManagerNetwork,        // mask 0x2000
  kManagerCollision,      // mask 0x1000
  kManagerUserInterface,  // mask 0x100
  kManagerEffects,        // mask 0x80
  kManagerCount
};

struct ManagerFactory {
  // Creates and starts the manager and publishes its interface pointer; false
  // when it cannot start, after reporting why (the render device raises its
  // fatal "Failed to locate..." error itself). The caller then runs destroy.
  bool (*create)() = nullptr;
  // Optional: stops the manager without destroying it (run before any destroy).
  void (*shutdown)() = nullptr;
  // Destroys the manager and clears its pointer; safe when it does not exist.
  void (*destroy)() = nullptr;
};

inline ManagerFactory g_managerFactories[kManagerCount];

// static RegisterManagerFactory s_register(kManagerSound, createFn, nullptr, destroyFn);
struct RegisterManagerFactory {
  RegisterManagerFactory(ManagerId id, bool (*create)(), void (*shutdown)(), void (*destroy)()) {
    g_managerFactories[id].create = create;
    g_managerFactories[id].shutdown = shutdown;
    g_managerFactories[id].destroy = destroy;
  }
};

// The scene-graph class registry lives with the world library; the common manager builds it at
// start-up and releases it at shutdown through these hooks (null in a build without that library).
inline void (*g_initSceneGraphClasses)() = nullptr;
inline void (*g_shutdownSceneGraphClasses)() = nullptr;

struct RegisterSceneGraphHooks {
  RegisterSceneGraphHooks(void (*init)(), void (*shutdown)()) {
    g_initSceneGraphClasses = init;
    g_shutdownSceneGraphClasses = shutdown;
  }
};
