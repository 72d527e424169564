// The sanitizers' default options for every program that links the desktop libraries, compiled
// only into a build with AddressSanitizer + UBSan (the target desktop_sanitizer_options): such a
// program, `zul` included, runs by hand as the tests run it, with nothing to set first. The
// environment (ASAN_OPTIONS, UBSAN_OPTIONS, LSAN_OPTIONS) still overrides each option.

// GLib and GStreamer are built without frame pointers: AddressSanitizer's fast unwinder stops
// at g_malloc, and the suppressions of their process-long allocations (lsan.supp) could name
// no function of theirs. The full unwinder sees the whole stack.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

// WebKit's script engine releases its own objects through the program's instrumented copy of a
// library template; ubsan.supp says why that one check is left out.
extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:suppressions=" SV_DESKTOP_UBSAN_SUPPRESSIONS;
}

// The desktop libraries keep a few caches for the life of the process (fontconfig's, say):
// LeakSanitizer is told of those libraries only, never of our code.
extern "C" const char* __lsan_default_options() {
    return "suppressions=" SV_DESKTOP_LSAN_SUPPRESSIONS;
}
