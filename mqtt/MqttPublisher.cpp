#include "mqtt/MqttPublisher.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/UniqueFd.h"

namespace {

constexpr int kKeepAliveS = 20;
// Readings sent and not yet acknowledged, at most: they go out in order, and
// after a lost connection the unacknowledged ones go again first.
constexpr int kWindow = 32;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;
constexpr int kHousekeepingMs = 1000;
// Where the system keeps the CA certificates it trusts (ca-certificates).
constexpr char kSystemCaPath[] = "/etc/ssl/certs";
constexpr qint64 kDropNoticeEveryMs = 60000;
// How long finish() waits for the broker to take "offline".
constexpr int kOfflineWaitMs = 1000;

void initLibrary()
{
    // Once per process; the library's own state lives until the process ends.
    static const int rc = mosquitto_lib_init();
    (void)rc;
}

bool startsWithNoCase(std::string_view text, std::string_view start)
{
    if (text.size() < start.size())
        return false;
    for (size_t i = 0; i < start.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != start[i])
            return false;
    return true;
}

[[noreturn]] void badUrl(const std::string& shown, const std::string& why)
{
    throw std::invalid_argument("invalid --mqtt URL \"" + shown + "\": " + why);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX escapes, so that a user name may hold '@', ':' or '/'.
std::string percentDecoded(std::string_view text, const std::string& url)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (hi < 0 || lo < 0)
            badUrl(url, "the user name has a '%' that is not followed by two hexadecimal digits");
        out += char(hi * 16 + lo);
        i += 2;
    }
    return out;
}

bool isHostNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

std::string hostAndPort(const MqttUrl& url)
{
    const bool v6 = url.host.find(':') != std::string::npos;
    return (v6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}

std::string topicText(const MqttPublisher::Config& config, std::string_view leaf)
{
    return config.url.prefix + "/" + config.name + "/" + std::string(leaf);
}

std::string statusText(MqttPublisher::Status status)
{
    return status == MqttPublisher::Status::Online ? "online" : "no-meter";
}

}  // namespace

MqttUrl parseMqttUrl(const std::string& url)
{
    MqttUrl out;
    std::string_view rest(url);
    size_t schemeLength = 0;
    if (startsWithNoCase(rest, "mqtt://")) {
        schemeLength = 7;
    } else if (startsWithNoCase(rest, "mqtts://")) {
        schemeLength = 8;
        out.tls = true;
        out.port = 8883;
    } else {
        badUrl(url, "it must begin with mqtt:// or mqtts://");
    }
    rest.remove_prefix(schemeLength);

    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(':');
        if (colon != std::string_view::npos) {
            // Shown without the password: the message may end up in a log.
            const std::string masked = url.substr(0, schemeLength) + std::string(userInfo.substr(0, colon)) + ":***@" +
                                       std::string(rest.substr(at + 1));
            badUrl(masked, "a password does not belong in the URL, where every user of this machine can read it; "
                           "give it with --password-file");
        }
        if (userInfo.empty())
            badUrl(url, "the user name before '@' is empty");
        out.user = percentDecoded(userInfo, url);
        authority.remove_prefix(at + 1);
    }

    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            badUrl(url, "the IPv6 address has no closing ']'");
        out.host = std::string(authority.substr(1, close - 1));
        in6_addr address{};
        if (inet_pton(AF_INET6, out.host.c_str(), &address) != 1)
            badUrl(url, "\"" + out.host + "\" is not an IPv6 address");
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                badUrl(url, "only \":PORT\" may follow the IPv6 address");
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        if (std::count(authority.begin(), authority.end(), ':') > 1)
            badUrl(url, "an IPv6 address goes in brackets, as in mqtt://[::1]/lab");
        const size_t colon = authority.find(':');
        out.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
        if (out.host.empty())
            badUrl(url, "the host is missing");
        if (!std::all_of(out.host.begin(), out.host.end(), isHostNameChar))
            badUrl(url, "\"" + out.host + "\" is not a host name or address");
        const bool numeric = std::all_of(out.host.begin(), out.host.end(), [](char c) {
            return c == '.' || std::isdigit(static_cast<unsigned char>(c));
        });
        in_addr address{};
        if (numeric && inet_pton(AF_INET, out.host.c_str(), &address) != 1)
            badUrl(url, "\"" + out.host + "\" is not an IPv4 address");
    }
    if (hasPort) {
        const bool digits = !portText.empty() && portText.size() <= 5 &&
                            std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int port = digits ? std::stoi(std::string(portText)) : 0;
        if (port < 1 || port > 65535)
            badUrl(url, "the port \"" + std::string(portText) + "\" is not a number from 1 to 65535");
        out.port = port;
    }

    if (slash == std::string_view::npos || slash + 1 == rest.size())
        badUrl(url, "the topic prefix is missing: add /PREFIX after the host, as in mqtt://host/lab");
    const std::string_view prefix = rest.substr(slash + 1);
    if (prefix.back() == '/')
        badUrl(url, "the topic prefix ends with '/'");
    if (prefix.front() == '$')
        badUrl(url, "the topic prefix may not begin with '$' (the broker's own topics)");
    size_t begin = 0;
    while (begin <= prefix.size()) {
        const size_t end = std::min(prefix.find('/', begin), prefix.size());
        const std::string_view level = prefix.substr(begin, end - begin);
        std::string why;
        if (level.empty())
            badUrl(url, "the topic prefix has an empty level (\"//\")");
        if (!isValidTopicLevel(level, &why))
            badUrl(url, "the topic level \"" + std::string(level) + "\" " + why);
        begin = end + 1;
    }
    out.prefix = std::string(prefix);
    return out;
}

bool isValidTopicLevel(std::string_view level, std::string* why)
{
    auto fail = [why](const char* text) {
        if (why)
            *why = text;
        return false;
    };
    if (level.empty())
        return fail("is empty");
    if (level.find('+') != std::string_view::npos)
        return fail("contains '+'");
    if (level.find('#') != std::string_view::npos)
        return fail("contains '#'");
    if (level.find('/') != std::string_view::npos)
        return fail("contains '/'");
    if (level.find('\0') != std::string_view::npos)
        return fail("contains a NUL character");
    if (level.size() > 32767 || mosquitto_validate_utf8(level.data(), int(level.size())) != MOSQ_ERR_SUCCESS)
        return fail("is not valid UTF-8");
    return true;
}

namespace {

// Opens `path` for reading, a regular file; throws with `what` naming it.
UniqueFd openRegularFile(const std::string& path, const std::string& what, struct stat& info)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        throw std::invalid_argument("cannot read the " + what + " \"" + path + "\": " + std::strerror(errno));
    if (::fstat(fd.get(), &info) != 0)
        throw std::invalid_argument("cannot read the " + what + " \"" + path + "\": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw std::invalid_argument("the " + what + " \"" + path + "\" is not a regular file");
    return fd;
}

}  // namespace

void checkReadableFile(const std::string& path, const std::string& what)
{
    struct stat info {};
    openRegularFile(path, what, info);
}

std::string readPasswordFile(const std::string& path)
{
    struct stat info {};
    const UniqueFd fd = openRegularFile(path, "password file", info);
    if (info.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
        throw std::invalid_argument("the password file \"" + path + "\" may be read or written by others than its owner (mode " +
                                    mode + "); make it private with chmod 600");
    }
    std::string text;
    char buffer[4096];
    // The first line is all that counts; a password is short.
    while (text.find('\n') == std::string::npos && text.size() < 65536) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::invalid_argument("cannot read the password file \"" + path + "\": " + std::strerror(errno));
        if (n == 0)
            break;
        text.append(buffer, size_t(n));
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    if (text.empty())
        throw std::invalid_argument("the password file \"" + path + "\" holds no password on its first line");
    return text;
}

struct MqttPublisher::Impl {
    enum class State { Idle,
                       Waiting,
                       Connecting,
                       Connected,
                       Finished };
    // What a connection failure was, so that each kind is told once.
    enum class Failure { None,
                         Unreachable,
                         Lost,
                         Refused,
                         Certificate };

    struct Entry {
        std::string payload;
        int mid = 0;  // its message id on the present connection; 0: not sent on it
        bool acked = false;
    };

    Impl(MqttPublisher& owner, Config c)
        : self(owner),
          config(std::move(c)),
          where(hostAndPort(config.url)),
          readingTopic(topicText(config, "reading")),
          statusTopic(topicText(config, "status")),
          clientId("quelt-log-" + config.name + "-" + std::to_string(::getpid())),
          housekeeping(&owner),
          retry(&owner),
          connectLimit(&owner)
    {
        housekeeping.setInterval(kHousekeepingMs);
        retry.setSingleShot(true);
        connectLimit.setSingleShot(true);
        QObject::connect(&housekeeping, &QTimer::timeout, &owner, [this] {
            if (!mosq)
                return;
            const int rc = mosquitto_loop_misc(mosq);
            afterIo(rc, errno);
        });
        QObject::connect(&retry, &QTimer::timeout, &owner, [this] { attempt(); });
        QObject::connect(&connectLimit, &QTimer::timeout, &owner, [this] {
            const int ms = config.answerTimeoutMs;
            failed(Failure::Unreachable, "no answer within " + (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms"));
        });
    }
    ~Impl() { teardown(); }

    MqttPublisher& self;
    const Config config;
    const std::string where;
    const std::string readingTopic;
    const std::string statusTopic;
    const std::string clientId;

    State state = State::Idle;
    mosquitto* mosq = nullptr;
    // Children of the publisher (owned by it) while the connection's socket is open.
    QSocketNotifier* readable = nullptr;
    QSocketNotifier* writable = nullptr;
    QTimer housekeeping;
    QTimer retry;
    QTimer connectLimit;
    int retryMs = kFirstRetryMs;

    std::deque<Entry> queue;
    size_t sent = 0;   // the front entries sent (or acknowledged) on this connection
    int inFlight = 0;  // of those, the ones not acknowledged
    uint64_t droppedCount = 0;

    Status status = Status::NoMeter;
    int offlineMid = -1;
    bool offlineAcked = false;

    // Set by the library's callbacks, read after its call returns.
    std::optional<int> connack;
    bool disconnected = false;
    std::string lastLibraryError;

    // The kind of failure told since the connection last worked: a lost and an
    // unreachable broker are one kind (the network), a refused login another,
    // a certificate a third.
    Failure told = Failure::None;
    // Readings dropped since the connection last worked, and of those the ones
    // no line has counted yet.
    uint64_t droppedInOutage = 0;
    uint64_t droppedUntold = 0;
    QElapsedTimer sinceDropNotice;

    void tell(const std::string& line)
    {
        if (self.onNotice)
            self.onNotice(line);
    }

    void attempt()
    {
        teardown();
        state = State::Connecting;
        mosq = mosquitto_new(clientId.c_str(), true, this);
        if (!mosq) {
            failed(Failure::Unreachable, std::strerror(errno));
            return;
        }
        mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_max_inflight_messages_set(mosq, kWindow + 4);
        static const char kOffline[] = "offline";
        mosquitto_will_set(mosq, statusTopic.c_str(), int(sizeof kOffline - 1), kOffline, 1, true);
        if (!config.url.user.empty())
            mosquitto_username_pw_set(mosq, config.url.user.c_str(), config.password.empty() ? nullptr : config.password.c_str());
        if (config.url.tls) {
            if (config.caFile.empty() && ::access(kSystemCaPath, R_OK | X_OK) != 0) {
                failed(Failure::Certificate, std::string("no CA certificates to check it with: none in ") + kSystemCaPath +
                                                 " (the package ca-certificates) and no --cafile given");
                return;
            }
            const int rc = config.caFile.empty() ? mosquitto_tls_set(mosq, nullptr, kSystemCaPath, nullptr, nullptr, nullptr)
                                                 : mosquitto_tls_set(mosq, config.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                failed(Failure::Certificate, "the CA certificates cannot be used: " + std::string(mosquitto_strerror(rc)));
                return;
            }
        }
        mosquitto_connect_callback_set(mosq, [](mosquitto*, void* me, int rc) { static_cast<Impl*>(me)->connack = rc; });
        mosquitto_disconnect_callback_set(mosq, [](mosquitto*, void* me, int) { static_cast<Impl*>(me)->disconnected = true; });
        mosquitto_publish_callback_set(mosq, [](mosquitto*, void* me, int mid) { static_cast<Impl*>(me)->acknowledged(mid); });
        mosquitto_log_callback_set(mosq, [](mosquitto*, void* me, int level, const char* text) {
            if (level == MOSQ_LOG_ERR && text)
                static_cast<Impl*>(me)->lastLibraryError = text;
        });
        lastLibraryError.clear();
        const int rc = mosquitto_connect_async(mosq, config.url.host.c_str(), config.url.port, kKeepAliveS);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) {
            failedConnecting(rc, error);
            return;
        }
        const int fd = mosquitto_socket(mosq);
        if (fd < 0) {
            failed(Failure::Unreachable, "no socket");
            return;
        }
        readable = new QSocketNotifier(fd, QSocketNotifier::Read, &self);
        writable = new QSocketNotifier(fd, QSocketNotifier::Write, &self);
        QObject::connect(readable, &QSocketNotifier::activated, &self, [this] {
            const int rc = mosquitto_loop_read(mosq, 1);
            afterIo(rc, errno);
        });
        QObject::connect(writable, &QSocketNotifier::activated, &self, [this] {
            const int rc = mosquitto_loop_write(mosq, 1);
            afterIo(rc, errno);
        });
        housekeeping.start();
        connectLimit.start(config.answerTimeoutMs);
        watchWrites();
    }

    // What the library's call `rc` (with `error` as errno) did to the connection.
    void afterIo(int rc, int error)
    {
        if (!mosq)
            return;
        if (state == State::Connecting && connack) {
            if (*connack != 0) {
                refused(*connack);
                return;
            }
            connected();
        }
        auto open = [&] { return rc == MOSQ_ERR_SUCCESS && !disconnected && mosquitto_socket(mosq) >= 0; };
        if (open()) {
            popAcknowledged();
            rc = pump();
            error = errno;
            if (open()) {
                watchWrites();
                return;
            }
        }
        if (rc == MOSQ_ERR_SUCCESS)
            rc = MOSQ_ERR_CONN_LOST;
        if (state == State::Connected)
            failed(Failure::Lost, reason(rc, error));
        else
            failedConnecting(rc, error);
    }

    // A try that did not get as far as the broker's answer.
    void failedConnecting(int rc, int error)
    {
        if (rc == MOSQ_ERR_TLS || lastLibraryError.find("SSL") != std::string::npos)
            failed(Failure::Certificate, tlsReason());
        else
            failed(Failure::Unreachable, reason(rc, error));
    }

    // After a reading or a status was handed over outside the library's own
    // calls: sends what may go now and notices a connection that ended.
    void serviceNow()
    {
        if (state == State::Connected)
            afterIo(MOSQ_ERR_SUCCESS, 0);
    }

    void watchWrites()
    {
        if (writable && mosq)
            writable->setEnabled(mosquitto_want_write(mosq));
    }

    static std::string reason(int rc, int error)
    {
        switch (rc) {
        case MOSQ_ERR_ERRNO: return std::strerror(error);
        case MOSQ_ERR_CONN_LOST:
        case MOSQ_ERR_NO_CONN: return "the connection was closed";
        case MOSQ_ERR_KEEPALIVE: return "it stopped answering";
        case MOSQ_ERR_EAI: return "the host name cannot be resolved";
        default: return mosquitto_strerror(rc);
        }
    }

    std::string tlsReason() const
    {
        std::string text = lastLibraryError;
        const size_t routines = text.find("routines::");
        if (routines != std::string::npos)
            text = text.substr(routines + 10);
        return text.empty() ? "TLS failed" : text;
    }

    void connected()
    {
        state = State::Connected;
        connectLimit.stop();
        retryMs = kFirstRetryMs;
        if (told != Failure::None || droppedInOutage > 0) {
            std::string line = "connected to the broker at " + where + " again";
            if (droppedInOutage > 0)
                line += "; dropped " + readings(droppedInOutage) + " in all while it was unreachable (queue holds " +
                        std::to_string(queueLimit()) + ")";
            tell(line);
        }
        told = Failure::None;
        droppedInOutage = 0;
        droppedUntold = 0;
        sinceDropNotice.invalidate();
        publishStatus();
    }

    void refused(int code)
    {
        if (code == 4 || code == 5)
            failed(Failure::Refused, "");
        else
            failed(Failure::Refused, mosquitto_connack_string(code));
    }

    static bool sameKind(Failure a, Failure b)
    {
        auto network = [](Failure f) { return f == Failure::Lost || f == Failure::Unreachable; };
        return a == b || (network(a) && network(b));
    }

    void failed(Failure kind, const std::string& why)
    {
        if (!sameKind(kind, told)) {
            told = kind;
            switch (kind) {
            case Failure::Lost: tell("lost the broker at " + where + ": " + why + "; retrying"); break;
            case Failure::Unreachable: tell("cannot reach the broker at " + where + ": " + why + "; retrying"); break;
            case Failure::Refused:
                tell(why.empty() ? "the broker at " + where + " refused the user name or password; retrying"
                                 : "the broker at " + where + " refused the connection: " + why + "; retrying");
                break;
            case Failure::Certificate:
                tell(why.find("certificate") != std::string::npos
                         ? "no trusted TLS connection to the broker at " + where + ": " + why + "; retrying"
                         : "TLS with the broker at " + where + " failed: " + why + "; retrying");
                break;
            case Failure::None: break;
            }
        }
        teardown();
        if (state == State::Finished)
            return;
        state = State::Waiting;
        retry.start(retryMs);
        retryMs = std::min(retryMs * 2, kLastRetryMs);
    }

    // Closes the connection as it is (no DISCONNECT: the broker then sends
    // the last will); what was unacknowledged goes again on the next one.
    void teardown()
    {
        // The notifiers may be the ones whose signal is being handled.
        for (QSocketNotifier* n : {std::exchange(readable, nullptr), std::exchange(writable, nullptr)}) {
            if (n) {
                n->setEnabled(false);
                n->deleteLater();
            }
        }
        housekeeping.stop();
        connectLimit.stop();
        if (mosq) {
            mosquitto_destroy(mosq);
            mosq = nullptr;
        }
        for (Entry& e : queue)
            e.mid = 0;
        sent = 0;
        inFlight = 0;
        connack.reset();
        disconnected = false;
        if (state == State::Connected || state == State::Connecting)
            state = State::Idle;
    }

    void publishStatus()
    {
        const std::string text = statusText(status);
        mosquitto_publish(mosq, nullptr, statusTopic.c_str(), int(text.size()), text.data(), 1, true);
    }

    // Sends queued readings while the window has room; the library's error
    // when the connection failed on the way.
    int pump()
    {
        while (state == State::Connected && inFlight < kWindow && sent < queue.size()) {
            Entry& e = queue[sent];
            if (e.acked) {
                ++sent;
                continue;
            }
            int mid = 0;
            const int rc = mosquitto_publish(mosq, &mid, readingTopic.c_str(), int(e.payload.size()), e.payload.data(), 1, false);
            if (rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_OVERSIZE_PACKET) {
                // No broker takes it: it would stop every reading behind it.
                tell("the broker at " + where + " does not take a reading of " + std::to_string(e.payload.size()) +
                     " bytes; dropped it");
                queue.erase(queue.begin() + std::ptrdiff_t(sent));
                ++droppedCount;
                continue;
            }
            if (rc != MOSQ_ERR_SUCCESS)
                return rc;
            e.mid = mid;
            ++sent;
            ++inFlight;
        }
        return MOSQ_ERR_SUCCESS;
    }

    void acknowledged(int mid)
    {
        if (mid == offlineMid) {
            offlineAcked = true;
            return;
        }
        for (size_t i = 0; i < sent && i < queue.size(); ++i) {
            if (queue[i].mid == mid && !queue[i].acked) {
                queue[i].acked = true;
                --inFlight;
                return;
            }
        }
    }

    void popAcknowledged()
    {
        while (!queue.empty() && queue.front().acked) {
            queue.pop_front();
            if (sent > 0)
                --sent;
        }
    }

    void add(std::string payload)
    {
        queue.push_back(Entry{std::move(payload)});
        while (queue.size() > queueLimit()) {
            Entry& oldest = queue.front();
            if (sent > 0) {
                --sent;
                if (oldest.mid != 0 && !oldest.acked)
                    --inFlight;
            }
            queue.pop_front();
            ++droppedCount;
            ++droppedInOutage;
            ++droppedUntold;
            if (!sinceDropNotice.isValid()) {
                tell(std::string(state == State::Connected ? "broker not keeping up" : "broker unreachable") +
                     ", the queue is full: dropping the oldest readings beyond " + std::to_string(queueLimit()));
                sinceDropNotice.start();
            } else if (sinceDropNotice.elapsed() >= kDropNoticeEveryMs) {
                tellDropped();
            }
        }
        serviceNow();
    }

    size_t queueLimit() const { return std::max<size_t>(config.queueLimit, 1); }

    static std::string readings(uint64_t n) { return std::to_string(n) + (n == 1 ? " oldest reading" : " oldest readings"); }

    // At most once a minute: how many went since the last line.
    void tellDropped()
    {
        const char* why = state == State::Connected ? "broker not keeping up" : "broker unreachable";
        tell(std::string(why) + ", dropped " + readings(droppedUntold) + " (queue holds " + std::to_string(queueLimit()) + ")");
        droppedUntold = 0;
        sinceDropNotice.start();
    }

    // Serves the connection until `done()` or `ms` passed.
    void serve(const std::function<bool()>& done, int ms)
    {
        if (ms <= 0 || done())
            return;
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        check.start(5);
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

MqttPublisher::MqttPublisher(Config config, QObject* parent) : QObject(parent)
{
    // Topics the library would refuse at every reading: refused here, once.
    std::string why;
    if (!isValidTopicLevel(config.name, &why))
        throw std::invalid_argument("invalid name \"" + config.name + "\" for the topics: it " + why);
    if (config.url.prefix.empty() || mosquitto_pub_topic_check(topicText(config, "reading").c_str()) != MOSQ_ERR_SUCCESS)
        throw std::invalid_argument("invalid topic prefix \"" + config.url.prefix + "\"");
    initLibrary();
    impl_ = std::make_unique<Impl>(*this, std::move(config));
}

MqttPublisher::~MqttPublisher()
{
    impl_->state = Impl::State::Finished;
    impl_->teardown();
}

void MqttPublisher::start()
{
    if (impl_->state == Impl::State::Idle)
        impl_->attempt();
}

void MqttPublisher::publishReading(std::string payload)
{
    if (impl_->state != Impl::State::Finished)
        impl_->add(std::move(payload));
}

void MqttPublisher::setStatus(Status status)
{
    if (status == impl_->status)
        return;
    impl_->status = status;
    if (impl_->state == Impl::State::Connected) {
        impl_->publishStatus();
        impl_->serviceNow();
    }
}

size_t MqttPublisher::finish(int timeoutMs)
{
    Impl& d = *impl_;
    if (d.state == Impl::State::Finished || d.state == Impl::State::Idle) {  // ended, or never started
        d.state = Impl::State::Finished;
        return d.queue.size();
    }
    QElapsedTimer clock;
    clock.start();
    // A connection waiting for its next try is tried now.
    if (d.state == Impl::State::Waiting) {
        d.retry.stop();
        d.attempt();
    }
    d.serve([&] { return d.queue.empty() && d.state == Impl::State::Connected; }, int(timeoutMs - clock.elapsed()));
    if (d.state == Impl::State::Connected) {
        static const char kOffline[] = "offline";
        d.offlineAcked = false;
        const int rc = mosquitto_publish(d.mosq, &d.offlineMid, d.statusTopic.c_str(), int(sizeof kOffline - 1), kOffline, 1, true);
        if (rc == MOSQ_ERR_SUCCESS) {
            d.watchWrites();
            d.serve([&] { return d.offlineAcked || d.state != Impl::State::Connected; }, kOfflineWaitMs);
        }
        if (d.state == Impl::State::Connected) {
            mosquitto_disconnect(d.mosq);
            mosquitto_loop_write(d.mosq, 1);
        }
    }
    d.state = Impl::State::Finished;
    d.retry.stop();
    d.teardown();
    return d.queue.size();
}

bool MqttPublisher::connected() const { return impl_->state == Impl::State::Connected; }

size_t MqttPublisher::queued() const { return impl_->queue.size(); }

uint64_t MqttPublisher::dropped() const { return impl_->droppedCount; }

std::string MqttPublisher::topic(std::string_view leaf) const { return topicText(impl_->config, leaf); }
