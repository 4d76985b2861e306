// Leak-checker settings of every program and test program under AddressSanitizer (the leakcheck
// object library, linked into each executable itself; unused in builds without the sanitizer).
//
// The checker records each dynamic thread-local block (those of libraries opened with dlopen: the
// media libraries and their many dependencies) when it is first touched, and guesses its extent
// from an old C library's layout: a block that starts 16 bytes into a page is taken to follow a
// header holding its start and size. Today's C library takes these blocks from malloc, so that
// "header" is the allocator's own chunk header, and the scan at exit reads a made-up range and
// crashes ("Tracer caught signal 11"). Whether it happens depends only on where a block lands
// (a 16-byte block of libgnutls, for one), so any change in earlier allocations, such as the
// length of an output path, can bring it about. The blocks are not recorded: they are heap blocks
// reached through the thread's module table, which the scan of each thread's static thread-local
// area finds, so nothing they refer to is reported as a leak and no real leak is hidden.
extern "C" const char* __lsan_default_options() {
    return "intercept_tls_get_addr=0";
}

// libx264 keeps the copies of its parameters when it refuses to open an encoder (a picture size it
// cannot take): memory of the library's own failure path, with nothing of ours to mend. Encoder
// contexts the program failed to free would still be reported, from their own allocation.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx264.so\n";
}
