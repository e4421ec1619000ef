// The command line: options read, the command looked up in the table of
// commands, its arguments checked, and the command run.
//
// Room cli/: may call commands/ and os/.
#pragma once

// Runs the command line; the program's exit status.
int RunVelkory(int argc, char** argv);
