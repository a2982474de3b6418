#pragma once
// Makes an unexpected end of the program impossible to miss. Once installed,
// an uncaught exception or std::terminate in any thread and the fatal signals
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT write a short report (what
// happened, where, a backtrace) to standard error and to a file of its own in
// the report folder, and the process then ends as it would have without the
// report: by the same signal (SIGABRT for an exception), with its exit status
// and core dump.
//
// The signal handler stays within async-signal-safe calls: the folder is
// opened and the file name prepared at installation, the report goes out with
// write(2), the backtrace with backtrace() and backtrace_symbols_fd(), and it
// runs on an alternate stack, so a stack overflow of the main thread is
// reported too. It writes nothing but the report: whatever the program keeps
// on disk (the log's journal) stays as it is.
#include <string>

class CrashReport {
public:
    // Installs the handlers, once, at the start of the program and before
    // other threads start. `program` starts every report and names its file.
    // Returns the report folder, or an empty string when it cannot be made
    // (reports then go to standard error only).
    static std::string Install(const char* program);

    // The report folder: $XDG_STATE_HOME/quelt, by default ~/.local/state/quelt.
    static std::string Folder();
};
