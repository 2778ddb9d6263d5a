#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include <cstdlib>

#include "platform/win32/face/main_window.h"

#if defined(__GLIBCXX__)
// A GUI program has no console for the message of libstdc++'s verbose
// terminate handler, and the demangler that handler drags in is over a tenth
// of the executable. Ending at once is all it could do here.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  quorrel::win32::Win32Services services;
  quorrel::win32::MainWindow window(instance, services);
  if (!window.Create(showCommand)) return 1;
  return window.Run();
}
