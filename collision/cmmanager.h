// The collision manager: owner of every collision model (the list addressed by index), the ".cm"
// reader and writer, the model builders and the queries, with the pools of query objects.
#pragma once

#include "collision/cmmodel.h"
#include "collision/cmquery.h"
#include "lib/criticalsection.h"
#include "lib/interface/collisionsystem.h"
#include "lib/list.h"
#include "lib/str.h"

class TokenParser;

// Fixed-block pool: blocks of 256 objects constructed once and reused without reconstruction.
template <class T, int kBlockSize>
class BlockAlloc {
 public:
  BlockAlloc() = default;
  BlockAlloc(const BlockAlloc&) = delete;
  BlockAlloc& operator=(const BlockAlloc&) = delete;
  virtual ~BlockAlloc() { shutdown(); }

  T* alloc() {
    if (!free_) {
      Block* block = new Block;
      for (int i = 0; i < kBlockSize; i++) {
        block->elements[i].next = free_;
        free_ = &block->elements[i];
      }
      block->next = blocks_;
      blocks_ = block;
      total_ += kBlockSize;
    }
    Element* e = free_;
    free_ = e->next;
    e->next = nullptr;
    active_++;
    return &e->object;
  }
  void free(T* object) {
    if (!object)
      return;
    // The object is the element's first member: its address is the element's.
    Element* e = reinterpret_cast<Element*>(object);
    e->next = free_;
    free_ = e;
    active_--;
  }
  void shutdown() {
    while (blocks_) {
      Block* next = blocks_->next;
      delete blocks_;
      blocks_ = next;
    }
    free_ = nullptr;
    total_ = active_ = 0;
  }
  int total() const { return total_; }
  int active() const { return active_; }

 private:
  struct Element {
    T object;
    Element* next = nullptr;
  };
  struct Block {
    Element elements[kBlockSize];
    Block* next = nullptr;
  };
  Block* blocks_ = nullptr;
  Element* free_ = nullptr;
  int total_ = 0;
  int active_ = 0;
};

class CollisionManager : public CollisionSystem {
 public:
  CollisionManager();
  ~CollisionManager() override;

  void loadMap(const char* mapName, bool ignored) override;
  void freeModels() override;
  int findOrLoadModel(const char* name) override;
  int setTraceModel(const TraceModel& trm, Material* material) override;
  bool traceModelFromModel(const char* name, TraceModel& out) override;
  void setTestBackFaces(int on) override { testBackFaces_ = on; }
  const char* modelName(int index) const override;
  bool modelBounds(int index, Bounds& out) const override;
  bool modelContents(int index, int& out) const override;
  CollisionModel* modelByIndex(int index) override;
  void translation(TraceResult* result, const Vec3& start, const Vec3& end, const TraceModel* trm,
                   const Mat3& trmAxis, int contentMask, int model, const Vec3& modelOrigin,
                   const Mat3& modelAxis) override;
  void rotation(TraceResult* result, const Vec3& start, const Rotation& rotation, const TraceModel* trm,
                const Mat3& trmAxis, int contentMask, int model, const Vec3& modelOrigin,
                const Mat3& modelAxis) override;
  int contents(const Vec3& start, const TraceModel* trm, const Mat3& trmAxis, int contentMask, int model,
               const Vec3& modelOrigin, const Mat3& modelAxis) override;
  int contacts(ContactInfo* out, int maxContacts, const Vec3& start, const float delta[6], float depth,
               const TraceModel* trm, const Mat3& trmAxis, int contentMask, int model,
               const Vec3& modelOrigin, const Mat3& modelAxis) override;
  void debugDrawModel(int model, const Vec3& modelOrigin, const Mat3& modelAxis, const Vec3& viewOrigin,
                      float radius) override;
  void writeModelFile(const char* fileName, int index) override;
  void writeAllModels(const char* fileName) override;
  int createModel(const char* name, List<CollisionSurface*> surfaces) override;

  int loadModelFile(const char* modelName, const char* fileName);
  // The search of loadModelFile over a text already in memory (also what the fuzz harness drives).
  int loadModelText(const char* modelName, const char* wantedName, TokenParser& parser);
  bool parseModelBody(cmModel_t& model, const char* name, TokenParser& parser);
  int modelFromRenderModel(const char* name);
  // The ".cm" text of one model (writeModelFile's body), as written.
  void modelText(String& out, const cmModel_t& model, const char* name, bool all) const;

  int numModels() const { return models_.num(); }
  cmModel_t* model(int index) { return index >= 0 && index < models_.num() ? models_[index] : nullptr; }
  const String& mapFileName() const { return mapFileName_; }
  int pooledQueries() const { return traceQueries_.active() + pointQueries_.active(); }

  CollisionModelQueryInterface* allocQuery(int traceModelType);
  void freeQuery(CollisionModelQueryInterface* query);

 private:
  bool parseNodes(cmModel_t& model, TokenParser& parser);
  bool parsePolygons(cmModel_t& model, TokenParser& parser);
  bool parseBrushes(cmModel_t& model, TokenParser& parser);
  bool writeText(const char* fileName, const String& text);

  String mapFileName_;
  String lastFileRead_;  // the ".cm" file loadModelFile found last ("" when none was there)
  List<cmModel_t*> models_;
  BlockAlloc<CollisionModelTraceModelQuery, 256> traceQueries_;
  BlockAlloc<CollisionModelPointQuery, 256> pointQueries_;
  int testBackFaces_ = 0;
};

inline CollisionManager* g_collisionManager = nullptr;

void createCollisionSystem();
void destroyCollisionSystem();
