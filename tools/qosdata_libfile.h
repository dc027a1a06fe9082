// qosdata's commands that read a library file on disk without loading it:
// the trace catalogue (`trace LIB`), a binary trace capture decoded with it
// (`trace LIB CAPTURE`) and the type manifest (`manifest LIB`).
#pragma once

// argv[0] is the command name; returns the exit status (1 after a one-line
// message on stderr).
int library_file_command(int argc, char **argv);
