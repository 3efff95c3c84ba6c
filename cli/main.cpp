// Volmo: lists the running processes and terminates one, by id or by executable name.
#include "cli/dispatch.h"

int main(int argc, char* argv[]) { return DispatchCommand(argc, argv); }
