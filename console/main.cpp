// Dorvane: the host that updates LoRa radio devices over the air.
#include "console/programEntry.h"

int main(int argc, char** argv) { return dorvane::console::runProgram(argc, argv); }
