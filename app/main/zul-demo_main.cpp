// zul-demo: the application with the scripted demo session (ZulProgram.h, DemoWindow.h).
#include "app/main/DemoWindow.h"
#include "app/main/ZulProgram.h"

int main(int argc, char** argv) { return RunZulProgram(argc, argv, StartDemoSession); }
