// The engine's warning boxes over the platform dialog.
#pragma once

// Shows a warning box. With `yesNoCancel` returns 0 yes, 1 no, 2 cancel, -1
// any other answer (a headless run answers no); otherwise 0.
int showMessageBox(const char* text, const char* caption, bool yesNoCancel);
