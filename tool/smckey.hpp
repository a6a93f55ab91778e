// The whole smckey command as one callable function, so that the program's
// main, the tests and the fuzzer all run exactly the same code.
#pragma once

namespace smckey {

// What run() returns; main returns it unchanged, so the exit status is its
// low eight bits (-1 shows as 255, -5 as 251).
inline constexpr int RUN_OK = 0;
inline constexpr int RUN_USAGE = -1;      // bad arguments, nothing touched
inline constexpr int RUN_NO_ACCESS = -2;  // ioperm refused
inline constexpr int RUN_INFO_FAIL = -3;  // reading the key's information failed
inline constexpr int RUN_DATA_FAIL = -4;  // reading the key's data failed
inline constexpr int RUN_WRITE_FAIL = -5; // the write was not completed

// Checks the arguments, gets port access, prints the key's information and
// data, and writes the values given, if any. argv[0] names the program in
// the usage text.
int run(int argc, const char* const* argv);

} // namespace smckey
