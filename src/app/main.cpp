// morvane: the desktop program. The shell runs the window and the frame loop; DrawUI
// is the interface drawn every frame.
#include "app/shell.h"
#include "ui/draw_ui.h"

int main(int argc, char** argv) { return morvane::RunShell(argc, argv, morvane::DrawUI); }
