// The entry point of Tavrin.exe. The command line is read in UTF-16 from the
// platform, so the narrow entry point serves both compilers.
#include <windows.h>

#include "app/app_gui_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  return tavrin::RunApplication(instance, showCommand);
}
