// The main of the widget test programs (see WindowTestRun.hpp).

#include "Support/WindowTestRun.hpp"

int main(int argc, char** argv) { return brindlecove::testing::runWindowTests(argc, argv); }
