/* Process start-up and engine lifecycle, shared by kx4.exe and the test
 * runner so that both start exactly the same way. */
#ifndef KX4_STARTUP_H
#define KX4_STARTUP_H

#include "kx4.h"

namespace kx4 {

// What the process runs once the engine is ready, on the main context
// inside its request.
typedef void (*ApplicationRunner)(JSContext *cx);

// Makes argv[0] the executable's full path, moves to its folder, starts the
// engine, defines argv and envp, runs the application and tears down.
// Returns the process exit code.
int runHost(ApplicationRunner run);

}  // namespace kx4

#endif
