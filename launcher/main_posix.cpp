#include "launcher/launch.h"

int main(int argc, char** argv) { return Launch(argc, argv); }
