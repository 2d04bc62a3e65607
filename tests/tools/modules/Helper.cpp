// The library the module above needs.
extern "C" __attribute__((visibility("default"))) int VexalPackHelperValue(void) { return 1; }
