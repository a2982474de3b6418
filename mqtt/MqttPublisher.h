#pragma once
// One meter's readings and status on an MQTT broker, through libmosquitto.
//
// The publisher runs on the thread of a Qt event loop (QSocketNotifier on the
// client's socket and a timer for the client's housekeeping): no thread of its
// own. Topics are PREFIX/NAME/reading (each reading, QoS 1, not retained) and
// PREFIX/NAME/status ("online", "no-meter", "offline"; retained, QoS 1). The
// broker is told "offline" as the last will, so a lost logger shows as such.
//
// Readings wait in a bounded queue until the broker has acknowledged them;
// beyond the bound the oldest are dropped and counted. At most 32 are in
// flight (sent, not acknowledged) at once, in order. A lost or refused
// connection is told once through onNotice and tried again with a growing
// delay (1, 2, 4, ... up to 30 s; back to 1 s once a connection worked);
// readings keep gathering meanwhile. Each try is a new clean-session client
// (MQTT 3.1.1, client id "quelt-log-NAME-PID": one publisher per NAME in a
// process), so the readings not acknowledged on the lost connection go again
// first, in order: none is lost, and each first arrives after the one before,
// but a subscriber may see one again (one the broker had taken when the
// connection broke). The status is given again on every connection.
//
// Host names are resolved by the library's connect, which waits for the
// resolver: a numeric address never waits.
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// What an mqtt:// or mqtts:// URL names:
//   mqtt://[USER@]HOST[:PORT]/PREFIX
struct MqttUrl {
    bool tls = false;    // mqtts://
    std::string user;    // empty: none
    std::string host;    // a name, an IPv4 address or a bracketed IPv6 address's text
    int port = 1883;     // 8883 for mqtts:// when none is given
    std::string prefix;  // one or more topic levels, without a leading or trailing '/'
};

// Parses a URL; throws std::invalid_argument with the text the user sees (a
// password in the URL is refused, as is anything that is not of the form).
MqttUrl parseMqttUrl(const std::string& url);

// Whether `level` may be one topic level of our topics (NAME): not empty, valid
// UTF-8, none of '+', '#', '/' or NUL. `why` gets the reason when it may not.
bool isValidTopicLevel(std::string_view level, std::string* why = nullptr);

// The password in a file that only its owner may read: the first line, without
// its line end. Throws std::invalid_argument with the text the user sees when
// the file cannot be read, is not a regular file, or group or others may read
// or write it.
std::string readPasswordFile(const std::string& path);

// Throws std::invalid_argument with the text the user sees unless `path` is a
// regular file this process can read; `what` names it ("CA file").
void checkReadableFile(const std::string& path, const std::string& what);

class MqttPublisher : public QObject {
public:
    // At least ten minutes at the line rate (17 readings a second is 10,200).
    static constexpr size_t kDefaultQueueLimit = 20000;

    struct Config {
        MqttUrl url;
        std::string password;  // used with url.user; empty: none
        std::string caFile;    // the CA certificates for mqtts://; empty: the system's
        std::string name;      // NAME, a valid topic level
        size_t queueLimit = kDefaultQueueLimit;
        // A try the broker has not accepted by then (no TCP, TLS or MQTT
        // answer) is given up and made again later.
        int answerTimeoutMs = 15000;
    };

    // Throws std::invalid_argument when config.name is no valid topic level
    // or the prefix makes no valid topic (parseMqttUrl() and
    // isValidTopicLevel() tell the user first).
    explicit MqttPublisher(Config config, QObject* parent = nullptr);
    // Closes the connection at once, without saying goodbye: the broker then
    // sends the last will "offline". Call finish() first for a clean end.
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Starts connecting (once; later calls do nothing). Never throws for what
    // the network or the broker does.
    void start();

    // Queues one reading's payload (a JSON object) for PREFIX/NAME/reading;
    // sent at once when connected and the window has room. Ignored after finish().
    void publishReading(std::string payload);

    enum class Status { Online,
                        NoMeter };
    // Publishes the status (retained) now, or once connected; only changes go
    // out. "no-meter" until set otherwise.
    void setStatus(Status status);

    // Sends what is queued for at most `timeoutMs` (a connection waiting for
    // its next try is tried at once), then publishes "offline" (retained,
    // waiting up to one second more for the broker to take it) and
    // disconnects. Runs its own event loop meanwhile; returns the number of
    // readings it could not deliver. Afterwards the publisher does nothing
    // more. Before start() it only ends it.
    size_t finish(int timeoutMs);

    bool connected() const;
    // Readings not yet acknowledged by the broker.
    size_t queued() const;
    // Readings dropped so far because the queue was full.
    uint64_t dropped() const;

    // "PREFIX/NAME/<leaf>".
    std::string topic(std::string_view leaf) const;

    // One line for the user (standard error), without the program's name (the
    // caller puts it in front). Until the connection works again, a failed
    // try is told only when its kind differs from the last one told (a lost
    // and an unreachable broker are one kind; a refused login or connection
    // is another, an untrusted certificate a third):
    //   lost the broker at HOST:PORT: WHY; retrying
    //   cannot reach the broker at HOST:PORT: WHY; retrying
    //   the broker at HOST:PORT refused the user name or password; retrying
    //   the broker at HOST:PORT refused the connection: WHY; retrying
    //   no trusted TLS connection to the broker at HOST:PORT: WHY; retrying
    // and once it works again:
    //   connected to the broker at HOST:PORT again[; dropped N oldest readings
    //   in all while it was unreachable (queue holds LIMIT)]
    // A full queue is told at its first drop, then at most once a minute:
    //   broker unreachable, the queue is full: dropping the oldest readings beyond LIMIT
    //   broker unreachable, dropped N oldest readings (queue holds LIMIT)
    // ("broker not keeping up" instead while connected).
    std::function<void(const std::string& line)> onNotice;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
