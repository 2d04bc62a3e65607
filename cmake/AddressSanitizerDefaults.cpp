// Built into every program of an AddressSanitizer build: the runtime reads these options before
// ASAN_OPTIONS, which can still override them.
//
// intercept_tls_get_addr=0: with it on, the runtime records the thread-local block of every
// library opened with dlopen (the loader library, its game module) and guesses the block's bounds
// from a glibc 2.19 header it assumes just before any block that starts 16 bytes into a page.
// Our blocks come from the sanitizer's own heap, so that "header" is the heap's chunk header,
// and the leak check at exit then reads a block at a nonsense address and dies ("Tracer caught
// signal 11") in about one run of forty. Nothing is lost for the leak check: the blocks stay
// reachable through the thread's block table.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
