// Command dispatch: the one place where the command line is read.
#ifndef VOLMO_CLI_DISPATCH_H
#define VOLMO_CLI_DISPATCH_H

// Writes the three lines of the usage text.
void PrintUsage();

// Runs the command that the arguments select and returns the program's exit status:
// the command's own result for "-l" and "-k", 0 for an unknown command word, 1 for the
// banner and usage shown when there is no command.
int DispatchCommand(int argc, char* argv[]);

#endif
