// Linked into every test binary; only takes effect in sanitizer builds.
extern "C" {
const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
// GLib keeps type and plugin tables for the life of the process.
const char *__lsan_default_suppressions()
{
    return "leak:_dl_init\n";
}
}
