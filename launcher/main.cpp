// Process entry of the launcher.
#include "launcher/startup.h"

int main(int argc, char** argv) { return nxo::launcher::RunStartup(argc, argv); }
