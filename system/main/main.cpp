// The quillmere executable: joins the command line into one text and runs the
// application shell on it.
#include "platform/memory.h"
#include "system/appwindowhandler.h"
#include "system/commandline.h"

int main(int argc, char** argv) {
  platformKeepFreedMemory();
  return runApplication(buildCommandLine(argc, argv), nullptr);
}
