/* A library for the tests that exports Configure and Release without being a hook module: a
 * module that depends on it must not take these as its own. */
int Configure(void** ctx, int argc, char* argv[]) {
    (void)ctx;
    (void)argc;
    (void)argv;
    return 0;
}

void Release(void* ctx) {
    (void)ctx;
}
