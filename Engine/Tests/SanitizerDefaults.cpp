// Sanitizer settings compiled into every test and fuzz program of a sanitized build, so a
// plain `ctest` in that build folder behaves like scripts/test.sh: the first report ends the
// program with a failure. Environment variables (ASAN_OPTIONS, ...) still take precedence.

extern "C" {

const char* __asan_default_options() {
    // A crafted size field that makes a parser ask for gigabytes is a fault like any other.
    return "halt_on_error=1:abort_on_error=1:detect_leaks=1:max_allocation_size_mb=4096:"
           "allocator_may_return_null=0";
}

// abort_on_error: the fuzz driver saves the running input on SIGABRT.
const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1:abort_on_error=1"; }

// Leaks inside system libraries that keep process-wide caches on purpose: fontconfig's
// configuration and font sets, held by pango's per-thread font map until exit.
const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

}
