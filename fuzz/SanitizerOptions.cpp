// Undefined behaviour must stop the run like a crash does. Left to itself the checker reports and
// carries on, so the fuzzer would neither save the input nor the replay test fail.
extern "C" const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}
