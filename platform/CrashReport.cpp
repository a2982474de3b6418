#include "platform/CrashReport.h"

#include "platform/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <typeinfo>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kMaxFrames = 64;

// What the handlers need, prepared at installation: the signal handler
// reaches nothing else.
int g_dirFd = -1;
char g_program[32] = "program";
char g_fileName[96] = "";  // in the report folder
char g_filePath[4096] = "";
// The thread writing a report, 0 while none: a second fault while reporting
// ends at once, another thread's waits for the report to be written.
std::atomic<pid_t> g_reporter{0};

pid_t ThreadId() { return pid_t(::syscall(SYS_gettid)); }

// Writes to standard error and to the report file; async-signal-safe.
class Out {
public:
    Out()
    {
        if (g_dirFd >= 0 && g_fileName[0])
            file_.reset(::openat(g_dirFd, g_fileName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    }
    ~Out()
    {
        if (file_.get() >= 0)
            ::fsync(file_.get());
    }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    bool toFile() const { return file_.get() >= 0; }

    Out& operator<<(const char* s)
    {
        const size_t n = std::strlen(s);
        put(STDERR_FILENO, s, n);
        if (file_.get() >= 0)
            put(file_.get(), s, n);
        return *this;
    }
    Out& number(uint64_t v, unsigned base = 10)
    {
        char buf[24];
        char* p = buf + sizeof buf;
        *--p = '\0';
        do {
            *--p = "0123456789abcdef"[v % base];
            v /= base;
        } while (v);
        if (base == 16)
            *this << "0x";
        return *this << p;
    }
    void backtrace()
    {
        void* frames[kMaxFrames];
        const int n = ::backtrace(frames, kMaxFrames);
        *this << "Backtrace (newest first):\n";
        ::backtrace_symbols_fd(frames, n, STDERR_FILENO);
        if (file_.get() >= 0)
            ::backtrace_symbols_fd(frames, n, file_.get());
    }

private:
    static void put(int fd, const char* s, size_t n)
    {
        while (n > 0) {
            const ssize_t w = ::write(fd, s, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return;  // a full disk: what reached standard error has to do
            s += w;
            n -= size_t(w);
        }
    }

    UniqueFd file_;  // synced and closed when the report is done
};

const char* SignalName(int signo)
{
    switch (signo) {
    case SIGSEGV: return "SIGSEGV (invalid memory reference)";
    case SIGBUS: return "SIGBUS (bus error: a mapped file shrank or the disk failed?)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    case SIGILL: return "SIGILL (illegal instruction)";
    case SIGABRT: return "SIGABRT (aborted)";
    default: return "signal";
    }
}

// What the kernel says of a fault; empty for a signal that a process sent.
const char* CodeText(int signo, int code)
{
    switch (signo) {
    case SIGSEGV:
        return code == SEGV_MAPERR ? "address not mapped" : code == SEGV_ACCERR ? "no access to the address"
                                                                                : "";
    case SIGBUS:
        return code == BUS_ADRALN ? "misaligned address" : code == BUS_ADRERR ? "no such physical address"
                                                       : code == BUS_OBJERR   ? "object error"
                                                                              : "";
    case SIGFPE:
        return code == FPE_INTDIV ? "integer division by zero" : code == FPE_INTOVF ? "integer overflow"
                                                             : code == FPE_FLTDIV   ? "floating-point division by zero"
                                                                                    : "";
    default:
        return "";
    }
}

uintptr_t InstructionPointer(const void* context)
{
    const auto* uc = static_cast<const ucontext_t*>(context);
    if (!uc)
        return 0;
#if defined(__x86_64__)
    return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return uintptr_t(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return uintptr_t(uc->uc_mcontext.pc);
#else
    return 0;
#endif
}

// Claims the report for this thread; false when another report is under way.
// A fault in another thread at the same moment waits (a few seconds at most)
// for that report, which ends the process.
bool ClaimReport()
{
    const pid_t self = ThreadId();
    pid_t none = 0;
    if (g_reporter.compare_exchange_strong(none, self))
        return true;
    if (none != self)
        for (int i = 0; i < 50; ++i) {
            const timespec tenth{0, 100 * 1000 * 1000};
            ::nanosleep(&tenth, nullptr);
        }
    return false;
}

void Trailer(Out& out)
{
    out << "Process ";
    out.number(uint64_t(::getpid())) << ", thread ";
    out.number(uint64_t(ThreadId())) << ".\n";
    out.backtrace();
    if (out.toFile())
        out << g_program << ": this report is in " << g_filePath << "\n";
}

extern "C" void OnFatalSignal(int signo, siginfo_t* info, void* context)
{
    const int saved = errno;
    if (ClaimReport()) {
        Out out;
        out << "\n"
            << g_program << ": fatal signal " << SignalName(signo);
        if (info) {
            if (info->si_code <= 0) {  // kill, raise, abort, sigqueue
                out << ", sent by process ";
                out.number(uint64_t(info->si_pid));
            } else {
                if (const char* code = CodeText(signo, info->si_code); *code)
                    out << ", " << code;
                out << ", at address ";
                out.number(uintptr_t(info->si_addr), 16);
            }
        }
        if (const uintptr_t ip = InstructionPointer(context)) {
            out << "; instruction at ";
            out.number(ip, 16);
        }
        out << ".\n";
        Trailer(out);
    }
    // The handler was reset to the default action on entry. The signal sent
    // again is held until the handler returns, then ends the process; a fault
    // would also come back from the instruction that raised it.
    ::raise(signo);
    errno = saved;
}

// Not a signal handler: may allocate, and the report is written before the
// process aborts.
[[noreturn]] void OnTerminate()
{
    if (ClaimReport()) {
        std::string what = "std::terminate called without an active exception";
        if (const std::exception_ptr current = std::current_exception()) {
            std::string type = "of unknown type";
            if (const std::type_info* t = abi::__cxa_current_exception_type()) {
                int status = 0;
                char* demangled = abi::__cxa_demangle(t->name(), nullptr, nullptr, &status);
                type = demangled ? demangled : t->name();
                std::free(demangled);
            }
            what = "uncaught exception " + type;
            try {
                std::rethrow_exception(current);
            } catch (const std::exception& e) {
                what += ": ";
                what += e.what();
            } catch (...) {
            }
        }
        Out out;
        out << "\n"
            << g_program << ": " << what.c_str() << ".\n";
        Trailer(out);
    }
    // The report is written: the abort below goes straight to the default.
    ::signal(SIGABRT, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGABRT);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::abort();
}

// Makes every missing folder of `path` (absolute).
bool MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

void InstallAlternateStack()
{
    // Enough for the handler and backtrace()'s unwinder; never freed, the
    // handler may need it until the process ends.
    const size_t size = std::max<size_t>(64 * 1024, size_t(SIGSTKSZ));
    stack_t stack{};
    stack.ss_sp = std::malloc(size);
    stack.ss_size = size;
    if (stack.ss_sp)
        ::sigaltstack(&stack, nullptr);
}

}  // namespace

std::string CrashReport::Folder()
{
    // A relative or empty XDG_STATE_HOME is to be ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/quelt";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/quelt";
    return {};
}

std::string CrashReport::Install(const char* program)
{
    std::strncpy(g_program, program, sizeof g_program - 1);
    std::string folder = Folder();
    if (!folder.empty() && MakeFolders(folder))
        g_dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_dirFd < 0) {
        folder.clear();
    } else {
        // Named by the start of the process: one file per crashed run.
        const time_t now = std::time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        std::snprintf(g_fileName, sizeof g_fileName, "crash-%s-%s-%d.txt", g_program, stamp, int(::getpid()));
        std::snprintf(g_filePath, sizeof g_filePath, "%s/%s", folder.c_str(), g_fileName);
    }

    // The first backtrace loads the unwinder, which the handler cannot do.
    void* frames[2];
    ::backtrace(frames, 2);
    InstallAlternateStack();

    struct sigaction sa {};
    sa.sa_sigaction = OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    for (const int signo : kFatalSignals)
        ::sigaction(signo, &sa, nullptr);
    std::set_terminate(OnTerminate);
    return folder;
}
