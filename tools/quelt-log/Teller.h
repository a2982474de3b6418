#pragma once
// The logger's lines on standard error, each one line starting "quelt-log: ".
// Problems are always told; what is only for information (a port opened or
// back, the broker reached) is left out with --quiet. Standard output is kept
// for the CSV lines, and flushed first so the two streams stay in order.
#include <cstdio>
#include <string>

class Teller {
public:
    explicit Teller(bool quiet) : quiet_(quiet) {}

    void problem(const std::string& line) const { write(line); }
    void info(const std::string& line) const
    {
        if (!quiet_)
            write(line);
    }

private:
    static void write(const std::string& line)
    {
        std::fflush(stdout);
        std::string text = "quelt-log: " + line;
        for (char& c : text)
            if (c == '\n' || c == '\r')
                c = ' ';  // one line, whatever the system's text holds
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stderr);
    }

    bool quiet_;
};
