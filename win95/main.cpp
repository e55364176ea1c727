#include "win95/win95_host.h"

int main(int argc, char** argv) { return chron::Win95ProgramMain(argc, argv); }
