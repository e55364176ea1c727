#include "service/service_host.h"

int main(int argc, char** argv) { return chron::ServiceProgramMain(argc, argv); }
