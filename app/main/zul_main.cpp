// zul: the application (ZulProgram.h).
#include "app/main/ZulProgram.h"

int main(int argc, char** argv) { return RunZulProgram(argc, argv, nullptr); }
