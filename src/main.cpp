// Program entry: see front/VeltroMain.h.
#include "front/VeltroMain.h"

int main(int argc, char** argv) { return VeltroMain(argc, argv); }
