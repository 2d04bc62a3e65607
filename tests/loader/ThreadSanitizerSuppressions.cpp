// Reports ThreadSanitizer leaves out of this program (read by its run-time at start-up; unused in
// other builds). fontconfig is not instrumented: its configuration, loaded by pango's own worker
// thread while the loading screen asks for a font, shows up as a race inside fontconfig.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\n";
}
