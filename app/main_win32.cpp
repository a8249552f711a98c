// The Windows process entry: the real system services and Win32 windows.
#include <windows.h>
// commctrl.h uses the types windows.h declares.
#include <commctrl.h>

#include <cstdlib>

#include "app/program.h"
#include "platform/win32/win32_services.h"
#include "ui/win32/win32_window_system.h"

// The four standard arguments go unused: the command line is taken whole,
// program name included, from GetCommandLineA.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The drive windows' status bars are common controls: register their class.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);

  TWin32Services services;
  TWin32WindowSystem windows;
  TProgram program(services, windows);
  // The JSON export is asked for through the environment: the described
  // command line has no switch for it.
  const char* exportFolder = std::getenv("DISKOPT_JSON");
  if (exportFolder != nullptr) program.exportFolder = exportFolder;
  return program.Run(GetCommandLineA());
}
