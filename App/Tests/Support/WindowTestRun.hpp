#pragma once
// The body of the widget test programs' main: GoogleTest inside a QApplication on the offscreen
// platform, with a fixed style, locale and time zone.

#include <functional>
#include <string>

namespace brindlecove::testing {

// Calls a check after every event the main thread's event loop delivers, each one on its own:
// after its handling is over, never from inside another event's handling (where a layout may
// stand half done, as no frame ever shows it). Set while the object lives; one at a time.
class AfterEachEvent {
public:
    // `check` is told which event was just handled: its type and its receiver's class and
    // object name ("QWidget erase.running"), as they were when it arrived.
    explicit AfterEachEvent(std::function<void(const std::string& event)> check);
    ~AfterEachEvent();
    AfterEachEvent(const AfterEachEvent&) = delete;
    AfterEachEvent& operator=(const AfterEachEvent&) = delete;
};

// Sets the platform, time zone and locale, makes the QApplication (one that serves
// AfterEachEvent) and runs every test;
// returns RUN_ALL_TESTS()'s result.
int runWindowTests(int argc, char** argv);

}  // namespace brindlecove::testing
