#pragma once

namespace zephro {

// The daemon's entry point: options, start-up and the listener's run loop.
int helperMain(int argc, char** argv);

}  // namespace zephro
