#pragma once
// The body of the widget test programs' main: GoogleTest inside a QApplication on the offscreen
// platform, with a fixed style, locale and time zone.

namespace brindlecove::testing {

// Sets the platform, time zone and locale, makes the QApplication and runs every test;
// returns RUN_ALL_TESTS()'s result.
int runWindowTests(int argc, char** argv);

}  // namespace brindlecove::testing
