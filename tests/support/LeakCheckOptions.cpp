// Leak-checker settings for every test program under AddressSanitizer. Its scan of thread-local
// storage at exit can crash ("Tracer caught signal 11") on the dynamic thread-local blocks of the
// many libraries the media libraries pull in, depending on the order they were touched. Thread-
// local storage is therefore not scanned; the two blocks only it refers to are then named here.
// Unused in builds without the sanitizer.
extern "C" const char* __lsan_default_options() {
    return "use_tls=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:_dl_resize_dtv\n"  // the C library's per-thread module table
           "leak:libglib-2.0.so\n"; // glib's per-thread data
}
