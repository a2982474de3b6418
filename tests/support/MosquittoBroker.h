#pragma once
// A mosquitto broker of a test's own: /usr/sbin/mosquitto started as a child
// process with a config file in a temporary folder, listening on 127.0.0.1
// only, at a free port (and, when asked, a TLS port with a CA and a server
// certificate for 127.0.0.1 and localhost that it makes with openssl). No
// persistence, no system service. stop(), kill(), pause() and restart() (on
// the same ports) let a test take the broker away and bring it back; the destructor
// kills it and removes its folder, also when a test fails midway.
// Failures throw std::runtime_error with the broker's log.
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/UniqueFd.h"

// Runs a program with `args` (no shell), its output to `logPath`; its exit status, or -1.
inline int runProgram(const std::vector<std::string>& args, const std::string& logPath)
{
    std::vector<std::string> store = args;
    std::vector<char*> argv;
    for (std::string& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A port on 127.0.0.1 that nothing listened on a moment ago.
inline int freeLocalPort()
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(address.sin_port);
}

inline bool acceptsConnections(int port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    return fd.get() >= 0 && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// A CA (ca.crt, ca.key) in `dir`, named `name`.
inline void makeCa(const std::string& dir, const std::string& name, const std::string& logPath)
{
    if (runProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", dir + "/ca.key", "-out", dir + "/ca.crt", "-days", "3", "-subj", "/CN=" + name,
                    "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
                   logPath) != 0)
        throw std::runtime_error("openssl could not make a CA:\n" + readWholeFile(logPath));
}

struct MosquittoBrokerOptions {
    bool tls = false;                                        // a TLS listener as well (tlsPort())
    std::vector<std::pair<std::string, std::string>> users;  // user and password; none: anonymous clients allowed
};

class MosquittoBroker {
public:
    using Options = MosquittoBrokerOptions;

    explicit MosquittoBroker(Options options = {}) : options_(std::move(options))
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quelt-broker-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder for the broker");
        dir_ = pattern;
        try {
            if (!options_.users.empty())
                writePasswords(options_.users);
            if (options_.tls)
                makeCertificates();
            for (int tries = 0;; ++tries) {
                port_ = freeLocalPort();
                tlsPort_ = options_.tls ? freeLocalPort() : 0;
                if (tlsPort_ == port_)
                    continue;
                if (launch())
                    break;
                if (tries == 4)
                    throw std::runtime_error("the broker did not start:\n" + log());
            }
        } catch (...) {
            kill();
            std::filesystem::remove_all(dir_);
            throw;
        }
    }
    ~MosquittoBroker()
    {
        kill();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    const std::string& dir() const { return dir_; }
    // The CA that signed the server certificate (with Options::tls).
    std::string caFile() const { return dir_ + "/ca.crt"; }
    std::string log() const { return readWholeFile(dir_ + "/broker.log"); }
    bool running() const { return pid_ > 0; }

    // Ends the broker as a service manager would (SIGTERM) and waits for it.
    void stop() { end(SIGTERM); }
    // Ends it at once (SIGKILL): clients see their connections reset.
    void kill() { end(SIGKILL); }
    // Freezes it (SIGSTOP): connections stay open, nothing is answered.
    void pause()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGSTOP);
    }
    void resume()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGCONT);
    }
    // Starts it again on the same ports; throws when it cannot.
    void restart()
    {
        end(SIGKILL);
        // A port may be held a moment longer by what the old broker left.
        for (int tries = 0; tries < 50; ++tries) {
            if (launch())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("the broker did not start again:\n" + log());
    }

    // Replaces who may log in; a running broker reads the file again.
    void setUsers(const std::vector<std::pair<std::string, std::string>>& users)
    {
        writePasswords(users);
        if (pid_ > 0)
            ::kill(pid_, SIGHUP);
    }

    // A CA that did not sign the server's certificate, for a client that must
    // not trust the broker.
    std::string otherCaFile()
    {
        const std::string other = dir_ + "/other";
        std::filesystem::create_directories(other);
        if (!std::filesystem::exists(other + "/ca.crt"))
            makeCa(other, "Quelt Other Test CA", dir_ + "/openssl.log");
        return other + "/ca.crt";
    }

private:
    void writePasswords(const std::vector<std::pair<std::string, std::string>>& users)
    {
        const std::string file = dir_ + "/passwd";
        std::filesystem::remove(file);
        bool first = true;
        for (const auto& [user, password] : users) {
            std::vector<std::string> args{"mosquitto_passwd", "-b"};
            if (first)
                args.push_back("-c");
            args.insert(args.end(), {file, user, password});
            if (runProgram(args, dir_ + "/passwd.log") != 0)
                throw std::runtime_error("mosquitto_passwd failed:\n" + readWholeFile(dir_ + "/passwd.log"));
            first = false;
        }
    }

    void makeCertificates()
    {
        const std::string log = dir_ + "/openssl.log";
        makeCa(dir_, "Quelt Test CA", log);
        std::ofstream(dir_ + "/server.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                                               "basicConstraints=CA:FALSE\n"
                                               "keyUsage=digitalSignature,keyEncipherment\n"
                                               "extendedKeyUsage=serverAuth\n";
        if (runProgram({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                        dir_ + "/server.key", "-out", dir_ + "/server.csr", "-subj", "/CN=localhost"},
                       log) != 0 ||
            runProgram({"openssl", "x509", "-req", "-in", dir_ + "/server.csr", "-CA", dir_ + "/ca.crt", "-CAkey",
                        dir_ + "/ca.key", "-CAcreateserial", "-out", dir_ + "/server.crt", "-days", "3", "-extfile",
                        dir_ + "/server.ext"},
                       log) != 0)
            throw std::runtime_error("openssl could not make the server certificate:\n" + readWholeFile(log));
    }

    void writeConfig()
    {
        std::ofstream conf(dir_ + "/mosquitto.conf");
        // As root the broker would change to the user "mosquitto", who may not
        // read this folder.
        if (::getuid() == 0)
            conf << "user root\n";
        conf << "persistence false\n"
             << "log_dest stderr\n"
             << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
             << "connection_messages true\n"
             << "listener " << port_ << " 127.0.0.1\n";
        if (options_.users.empty())
            conf << "allow_anonymous true\n";
        else
            conf << "allow_anonymous false\npassword_file " << dir_ << "/passwd\n";
        if (options_.tls)
            conf << "listener " << tlsPort_ << " 127.0.0.1\n"
                 << "cafile " << dir_ << "/ca.crt\n"
                 << "certfile " << dir_ << "/server.crt\n"
                 << "keyfile " << dir_ << "/server.key\n";
    }

    // Starts the broker and waits until it takes connections; false when it
    // ended first (a port was taken meanwhile).
    bool launch()
    {
        writeConfig();
        // The broker says it runs once its listeners are open: counted so that
        // another program that took the port meanwhile is not taken for it.
        const size_t runsBefore = runs();
        const std::string conf = dir_ + "/mosquitto.conf";
        const std::string logPath = dir_ + "/broker.log";
        std::vector<std::string> store{"/usr/sbin/mosquitto", "-c", conf};
        std::vector<char*> argv;
        for (std::string& a : store)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // The broker ends with the test, even when the test is killed.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(126);
            const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0) {
                ::dup2(fd, STDOUT_FILENO);
                ::dup2(fd, STDERR_FILENO);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (pid < 0)
            throw std::runtime_error("cannot start the broker");
        pid_ = pid;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return false;
            }
            if (runs() > runsBefore && acceptsConnections(port_) && (tlsPort_ == 0 || acceptsConnections(tlsPort_)))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        end(SIGKILL);
        return false;
    }

    size_t runs() const
    {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(" running\n"); at != std::string::npos; at = text.find(" running\n", at + 1))
            ++n;
        return n;
    }

    void end(int signal)
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = 0;
    }

    Options options_;
    std::string dir_;
    int port_ = 0;
    int tlsPort_ = 0;
    pid_t pid_ = 0;
};
