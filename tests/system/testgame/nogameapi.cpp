// A module without "GetGameAPI": the engine must refuse it, and the system
// manager's tests look up its one export.
extern "C" __attribute__((visibility("default"))) int testModuleAnswer() {
  return 42;
}
