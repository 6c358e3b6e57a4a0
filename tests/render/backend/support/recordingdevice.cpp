#include "recordingdevice.h"

#include "lib/matrix.h"

// Identity loads print as "loadMatrix(I)"; others as their 16 values.
void RecordingDevice::loadMatrix(const Mat4* m) {
  if (*m == Mat4::identity()) {
    add("loadMatrix(I)");
    return;
  }
  std::string text = "loadMatrix(";
  for (int i = 0; i < 16; ++i) {
    rec::appendOne(text, m->m[i]);
    text += i < 15 ? "," : ")";
  }
  add(text);
}
