// Rate functions of the interface transitions.
#include "ui/ratefunclist.h"

#include <cstring>

#include "lib/interface/cmdsystem.h"

int g_rateFuncNextId = 1;

int RateFuncList::RFCreateFunc(RateFuncCallback callback, const void* payload, int payloadSize,
                               int start, int duration) {
  if (!callback) {
    cmdPrintf("RFCreateFunc: must have a callback function to be created.\n");
    return 0;
  }
  if (payloadSize < 0 || payloadSize > RateFunc::kPayloadSize || (payloadSize > 0 && !payload)) {
    cmdPrintf("RFCreateFunc: failed to locate node space for rate function.\n");
    return 0;
  }
  RateFunc node;
  node.callback = callback;
  if (payloadSize > 0)
    std::memcpy(node.payload, payload, size_t(payloadSize));
  node.start = start == 0 ? time_ : start;
  node.duration = duration < 0 ? -1 : duration;
  node.id = g_rateFuncNextId++;
  if (g_rateFuncNextId == 0)
    g_rateFuncNextId = 1;
  nodes_.push_back(node);
  return node.id;
}

void RateFuncList::remove(int id) {
  if (id == 0)
    return;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].id == id) {
      nodes_.erase(nodes_.begin() + long(i));
      return;
    }
  }
}

RateFunc* RateFuncList::find(int id) {
  if (id == 0)
    return nullptr;
  for (RateFunc& node : nodes_)
    if (node.id == id)
      return &node;
  return nullptr;
}

void RateFuncList::update(int now) {
  const int delta = now - time_;
  time_ = now;
  // A callback may remove or add functions (a transition that ends another): address nodes by
  // id after each call instead of holding a reference across it.
  for (int i = int(nodes_.size()) - 1; i >= 0; --i) {
    if (i >= int(nodes_.size()))
      continue;
    if (!(nodes_[size_t(i)].start < now))
      continue;
    RateFunc node = nodes_[size_t(i)];
    const int elapsed = now - node.start;
    const bool keep = node.callback(node.payload, elapsed, delta);
    RateFunc* live = find(node.id);
    if (!live)
      continue;
    std::memcpy(live->payload, node.payload, sizeof(node.payload));
    if (!keep)
      live->duration = 0;
    if (live->duration >= 0 && live->duration <= elapsed)
      remove(node.id);
  }
}

void RateFuncList::reset() {
  nodes_.clear();
}
