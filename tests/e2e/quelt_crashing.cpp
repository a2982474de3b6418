// The crash report's test program: installs the report as the program does,
// prints the report folder, then ends the way its argument names.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "platform/CrashReport.h"

// Not static and never inlined: the backtrace names them.
extern "C" {

__attribute__((noinline)) void CrashByNullWrite()
{
    volatile int* p = nullptr;
    *p = 1;
}

// Recurses until the stack is gone (the depth is never reached).
__attribute__((noinline)) void CrashByStackOverflow(long depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    if (depth < (1L << 40))
        CrashByStackOverflow(depth + frame[0] + 1);
    frame[1] = 0;  // not a tail call: every call keeps its frame
}

__attribute__((noinline)) void CrashByDivision()
{
#if defined(__x86_64__) || defined(__i386__)
    volatile int zero = 0, seven = 7;
    volatile int n = seven / zero;
    (void)n;
#else
    ::raise(SIGFPE);  // integer division does not trap here
#endif
}

// A file mapped beyond its end: reading there is a bus error.
__attribute__((noinline)) void CrashByShrunkFile()
{
    char path[] = "/tmp/quelt-crashing-XXXXXX";
    const int fd = ::mkstemp(path);
    ::unlink(path);
    if (fd < 0 || ::ftruncate(fd, 0) != 0)
        std::abort();
    auto* p = static_cast<volatile char*>(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (p == MAP_FAILED)
        std::abort();
    (void)p[0];
}

__attribute__((noinline)) void CrashByAbort() { std::abort(); }

__attribute__((noinline)) void CrashByThrow() { throw std::runtime_error("the meter went away"); }

__attribute__((noinline)) void CrashByThrowInThread()
{
    std::thread worker([] { CrashByThrow(); });
    worker.join();
}

}  // extern "C"

int main(int argc, char** argv)
{
    // No core files from the tests.
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    const std::string folder = CrashReport::Install("quelt-crashing");
    std::fprintf(stderr, "report folder: %s\n", folder.c_str());
    std::fflush(stderr);
    const std::string how = argc > 1 ? argv[1] : "";
    if (how == "segv")
        CrashByNullWrite();
    else if (how == "stack")
        CrashByStackOverflow(0);
    else if (how == "fpe")
        CrashByDivision();
    else if (how == "bus")
        CrashByShrunkFile();
    else if (how == "abort")
        CrashByAbort();
    else if (how == "throw")
        CrashByThrow();
    else if (how == "throw-in-thread")
        CrashByThrowInThread();
    return 0;
}
