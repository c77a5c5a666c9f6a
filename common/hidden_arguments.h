// Keeps a password given on the command line out of the process list. `ps` and
// /proc/<pid>/cmdline show the process's own argument memory, so once the arguments
// have been copied, the value after "PASSWORD=" is overwritten there.
#pragma once

namespace zelvik::common {

// Overwrites, in place, every character after "PASSWORD=" (any case) in argv[1..argc)
// with NUL bytes; the prefix stays, so the process list shows that one was given.
// Call after the arguments were copied, before any other thread starts. Returns the
// number of arguments changed.
int hide_password_arguments(int argc, char** argv);

}  // namespace zelvik::common
