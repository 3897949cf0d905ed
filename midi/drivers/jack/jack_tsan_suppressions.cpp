// ThreadSanitizer sees libjack's lock-free ring buffer (RtMidi's JACK output writes it, the
// JACK process thread reads it) without the library's memory barriers, which it can't see
// in an uninstrumented library, and reports a race. Every program that links the JACK
// driver carries this in ThreadSanitizer builds (and only there: CMakeLists.txt).

extern "C" const char* __tsan_default_suppressions() { return "race:libjack.so\n"; }
