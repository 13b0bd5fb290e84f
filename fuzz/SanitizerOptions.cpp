// Undefined behaviour must stop the run like a crash does. Left to itself the checker reports and
// carries on, so the fuzzer would neither save the input nor the replay test fail.
extern "C" const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}

// libvshadow (20190323) loses a store block (about 16 KiB) inside the library when a damaged store's
// block list fails to read, once per open of such a volume; our glue frees all it is handed. Left
// unsuppressed, every such input would stop the fuzzer on a leak that is not ours to mend.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libvshadow.so\n";
}
