// The font configuration library keeps caches it never frees; they are not
// ours to release. Read by the leak checker of sanitizer builds only.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
