// Entry of the Windows program.
#include "main_window/form1.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  return tessmark::main_window::RunProgram(show_command);
}
