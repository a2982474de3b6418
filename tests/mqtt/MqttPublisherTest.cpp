// The publisher against a real broker: readings arrive in order at QoS 1, the
// status is retained, nothing is lost while the broker is away (within the
// queue's bound), what cannot be kept is dropped oldest first and told once,
// refused logins and untrusted certificates are told once and tried again, and
// the broker says "offline" however the publisher ends.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "mqtt/MqttPublisher.h"
#include "platform/UniqueFd.h"
#include "support/MosquittoBroker.h"
#include "support/MqttSubscriber.h"
#include "support/RunUntil.h"

namespace {

std::string reading(int n) { return "{\"no\": " + std::to_string(n) + "}"; }

class Publishing : public ::testing::Test {
protected:
    MqttPublisher::Config config(const MosquittoBroker& b, const std::string& name = "bench1")
    {
        MqttPublisher::Config c;
        c.url = parseMqttUrl("mqtt://127.0.0.1:" + std::to_string(b.port()) + "/lab");
        c.name = name;
        return c;
    }
    std::unique_ptr<MqttPublisher> publisher(MqttPublisher::Config c)
    {
        auto p = std::make_unique<MqttPublisher>(std::move(c));
        p->onNotice = [this](const std::string& line) { notices.push_back(line); };
        return p;
    }
    // The readings' numbers as they came, in order.
    static std::vector<int> numbers(const std::vector<std::string>& payloads)
    {
        std::vector<int> out;
        for (const std::string& p : payloads)
            out.push_back(std::stoi(p.substr(p.find(':') + 1)));
        return out;
    }
    // Every reading 0..n-1 arrived, and each first arrived after the one before
    // (one sent again after a lost connection may come twice).
    static void expectAllInOrder(const std::vector<int>& got, int n)
    {
        std::set<int> seen;
        int next = 0;
        for (const int v : got) {
            if (seen.count(v))
                continue;
            ASSERT_EQ(v, next) << "reading " << v << " came first before " << next;
            seen.insert(v);
            ++next;
        }
        EXPECT_EQ(next, n);
    }

    void TearDown() override
    {
        if (HasFailure() || std::getenv("QUELT_SHOW_NOTICES"))
            for (const std::string& line : notices)
                std::cerr << "notice: " << line << "\n";
    }

    std::vector<std::string> notices;
};

TEST_F(Publishing, ReadingsArriveInOrderAndTheStatusIsRetained)
{
    MosquittoBroker broker;
    MqttSubscriber sub(broker.port(), "lab/#");
    auto p = publisher(config(broker));
    EXPECT_EQ(p->topic("reading"), "lab/bench1/reading");
    p->setStatus(MqttPublisher::Status::Online);
    for (int i = 0; i < 100; ++i)  // before the connection: they wait
        p->publishReading(reading(i));
    p->start();
    ASSERT_TRUE(RunUntil([&] { return p->connected(); }));
    for (int i = 100; i < 1000; ++i)
        p->publishReading(reading(i));
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") == 1000 && p->queued() == 0; }));
    EXPECT_EQ(numbers(sub.payloads("lab/bench1/reading")), [] {
        std::vector<int> all(1000);
        for (int i = 0; i < 1000; ++i)
            all[i] = i;
        return all;
    }());
    EXPECT_EQ(sub.last("lab/bench1/status"), "online");

    p->setStatus(MqttPublisher::Status::NoMeter);
    p->setStatus(MqttPublisher::Status::NoMeter);  // only changes go out
    ASSERT_TRUE(RunUntil([&] { return sub.last("lab/bench1/status") == "no-meter"; }));
    // A newcomer is given the status kept by the broker.
    MqttSubscriber late(broker.port(), "lab/bench1/status");
    ASSERT_TRUE(RunUntil([&] { return late.count("lab/bench1/status") == 1; }));
    EXPECT_TRUE(late.messages().front().retain);
    EXPECT_EQ(late.last("lab/bench1/status"), "no-meter");
    for (const MqttMessage& m : sub.messages())
        EXPECT_EQ(m.retain, false) << m.topic;  // live messages are not marked retained for present subscribers

    EXPECT_EQ(p->finish(2000), 0u);
    ASSERT_TRUE(RunUntil([&] { return sub.last("lab/bench1/status") == "offline"; }));
    EXPECT_EQ(p->dropped(), 0u);
    EXPECT_TRUE(notices.empty()) << notices.front();
}

TEST_F(Publishing, FinishSendsWhatIsQueuedThenOffline)
{
    MosquittoBroker broker;
    MqttSubscriber sub(broker.port(), "lab/#");
    auto p = publisher(config(broker));
    p->start();
    for (int i = 0; i < 500; ++i)
        p->publishReading(reading(i));
    EXPECT_EQ(p->finish(5000), 0u);
    EXPECT_FALSE(p->connected());
    ASSERT_TRUE(RunUntil([&] { return sub.last("lab/bench1/status") == "offline"; }));
    expectAllInOrder(numbers(sub.payloads("lab/bench1/reading")), 500);
    MqttSubscriber late(broker.port(), "lab/bench1/status");
    ASSERT_TRUE(RunUntil([&] { return late.count("lab/bench1/status") == 1; }));
    EXPECT_EQ(late.last("lab/bench1/status"), "offline");
}

TEST_F(Publishing, AnAbruptEndLeavesTheWillOffline)
{
    MosquittoBroker broker;
    MqttSubscriber sub(broker.port(), "lab/#");
    auto p = publisher(config(broker));
    p->setStatus(MqttPublisher::Status::Online);
    p->start();
    ASSERT_TRUE(RunUntil([&] { return sub.last("lab/bench1/status") == "online"; }));
    p.reset();  // no finish(): the connection just ends
    ASSERT_TRUE(RunUntil([&] { return sub.last("lab/bench1/status") == "offline"; }));
    MqttSubscriber late(broker.port(), "lab/bench1/status");
    ASSERT_TRUE(RunUntil([&] { return late.count("lab/bench1/status") == 1; }));
    EXPECT_EQ(late.last("lab/bench1/status"), "offline");
}

}  // namespace

namespace {

// Serves the event loop for `ms` milliseconds.
void serve(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// How often `text` is in the broker's log.
int timesIn(const std::string& log, const std::string& text)
{
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++n;
    return n;
}

bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

MosquittoBroker::Options withTls()
{
    MosquittoBroker::Options o;
    o.tls = true;
    return o;
}

MosquittoBroker::Options withUser(const std::string& user, const std::string& password)
{
    MosquittoBroker::Options o;
    o.users = {{user, password}};
    return o;
}

MqttSubscriber::Options loggedInAs(const std::string& user, const std::string& password)
{
    MqttSubscriber::Options o;
    o.user = user;
    o.password = password;
    return o;
}

MqttSubscriber::Options trusting(const std::string& caFile)
{
    MqttSubscriber::Options o;
    o.caFile = caFile;
    return o;
}

TEST_F(Publishing, NoReadingIsLostWhileTheBrokerIsAwayAndOrderIsKept)
{
    MosquittoBroker broker;
    MqttSubscriber sub(broker.port(), "lab/#");
    auto p = publisher(config(broker));
    p->start();
    ASSERT_TRUE(RunUntil([&] { return p->connected(); }));
    // Readings come steadily, as from a meter, all through the broker's absence.
    constexpr int kTotal = 1200;
    int next = 0;
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        for (int i = 0; i < 3 && next < kTotal; ++i)
            p->publishReading(reading(next++));
    });
    feeder.start(2);
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") >= 200; }));
    broker.kill();
    ASSERT_TRUE(RunUntil([&] { return !p->connected(); }));
    serve(1300);  // past the first retry, which finds nobody
    EXPECT_GT(p->queued(), 50u);
    broker.restart();
    sub.reconnect();  // before the publisher may try again: it runs only on this loop
    ASSERT_TRUE(RunUntil([&] { return next == kTotal && p->queued() == 0; }, 20000));
    ASSERT_TRUE(RunUntil([&] {
        const std::vector<int> got = numbers(sub.payloads("lab/bench1/reading"));
        return std::set<int>(got.begin(), got.end()).size() == size_t(kTotal);
    }));
    expectAllInOrder(numbers(sub.payloads("lab/bench1/reading")), kTotal);
    EXPECT_EQ(p->dropped(), 0u);
    // Told once when lost (the retry that failed is not told again), and when back.
    const std::string where = "127.0.0.1:" + std::to_string(broker.port());
    ASSERT_EQ(notices.size(), 2u) << notices.front();
    EXPECT_TRUE(startsWith(notices[0], "lost the broker at " + where + ": ")) << notices[0];
    EXPECT_TRUE(notices[0].ends_with("; retrying")) << notices[0];
    EXPECT_EQ(notices[1], "connected to the broker at " + where + " again");
    // The status was given again to the new broker, which had forgotten it.
    MqttSubscriber late(broker.port(), "lab/bench1/status");
    ASSERT_TRUE(RunUntil([&] { return late.last("lab/bench1/status") == "no-meter"; }));
}

TEST_F(Publishing, AFullQueueDropsTheOldestCountsThemAndTellsOnce)
{
    MosquittoBroker broker;
    broker.kill();  // away from the start
    auto c = config(broker);
    c.queueLimit = 50;
    auto p = publisher(c);
    p->start();
    for (int i = 0; i < 200; ++i)
        p->publishReading(reading(i));
    EXPECT_EQ(p->queued(), 50u);
    EXPECT_EQ(p->dropped(), 150u);
    serve(1200);  // a retry meets nobody again: not told again
    const std::string where = "127.0.0.1:" + std::to_string(broker.port());
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], "cannot reach the broker at " + where + ": Connection refused; retrying");
    EXPECT_EQ(notices[1], "broker unreachable, the queue is full: dropping the oldest readings beyond 50");

    broker.restart();
    MqttSubscriber sub(broker.port(), "lab/#");
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") == 50; }, 15000));
    std::vector<int> newest(50);
    for (int i = 0; i < 50; ++i)
        newest[i] = 150 + i;
    EXPECT_EQ(numbers(sub.payloads("lab/bench1/reading")), newest);
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[2], "connected to the broker at " + where +
                              " again; dropped 150 oldest readings in all while it was unreachable (queue holds 50)");
    EXPECT_EQ(p->dropped(), 150u);
}

TEST_F(Publishing, FinishWithoutABrokerReturnsWhatItCouldNotDeliver)
{
    MosquittoBroker broker;
    broker.kill();
    auto p = publisher(config(broker));
    p->start();
    for (int i = 0; i < 7; ++i)
        p->publishReading(reading(i));
    EXPECT_EQ(p->finish(300), 7u);
    EXPECT_FALSE(p->connected());
    p->publishReading(reading(7));  // after the end: not taken
    EXPECT_EQ(p->queued(), 7u);
}

TEST_F(Publishing, ARefusedLoginIsToldOnceAndTriedAgainUntilItWorks)
{
    MosquittoBroker broker(withUser("ann", "right"));
    auto c = config(broker);
    c.url.user = "ann";
    c.password = "wrong";
    auto p = publisher(c);
    p->start();
    p->publishReading(reading(0));
    ASSERT_TRUE(RunUntil([&] { return timesIn(broker.log(), "not authorised") >= 2; }, 15000)) << broker.log();
    EXPECT_FALSE(p->connected());
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "the broker at 127.0.0.1:" + std::to_string(broker.port()) +
                              " refused the user name or password; retrying");
    // The broker is told the password the publisher has.
    broker.setUsers({{"ann", "wrong"}});
    MqttSubscriber sub(broker.port(), "lab/#", loggedInAs("ann", "wrong"));
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") == 1; }, 15000)) << broker.log();
    EXPECT_TRUE(p->connected());
    EXPECT_EQ(notices.back(), "connected to the broker at 127.0.0.1:" + std::to_string(broker.port()) + " again");
}

TEST_F(Publishing, TlsWithTheBrokersCaCarriesTheReadings)
{
    MosquittoBroker broker(withTls());
    MqttSubscriber sub(broker.tlsPort(), "lab/#", trusting(broker.caFile()));
    auto c = config(broker);
    c.url = parseMqttUrl("mqtts://127.0.0.1:" + std::to_string(broker.tlsPort()) + "/lab");
    c.caFile = broker.caFile();
    auto p = publisher(c);
    p->setStatus(MqttPublisher::Status::Online);
    p->start();
    for (int i = 0; i < 100; ++i)
        p->publishReading(reading(i));
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") == 100; })) << broker.log();
    expectAllInOrder(numbers(sub.payloads("lab/bench1/reading")), 100);
    EXPECT_EQ(sub.last("lab/bench1/status"), "online");
    EXPECT_EQ(p->finish(2000), 0u);
    ASSERT_TRUE(RunUntil([&] { return sub.last("lab/bench1/status") == "offline"; }));
    EXPECT_TRUE(notices.empty()) << notices.front();
}

TEST_F(Publishing, AnUntrustedCertificateIsToldOnceAndTriedAgain)
{
    MosquittoBroker broker(withTls());
    auto c = config(broker);
    c.url = parseMqttUrl("mqtts://127.0.0.1:" + std::to_string(broker.tlsPort()) + "/lab");
    c.caFile = broker.otherCaFile();
    auto p = publisher(c);
    p->start();
    p->publishReading(reading(0));
    ASSERT_TRUE(RunUntil([&] { return timesIn(broker.log(), "unknown ca") >= 2; })) << broker.log();
    EXPECT_FALSE(p->connected());
    ASSERT_EQ(notices.size(), 1u) << broker.log();
    EXPECT_TRUE(startsWith(notices[0], "no trusted TLS connection to the broker at 127.0.0.1:" +
                                           std::to_string(broker.tlsPort()) + ": "))
        << notices[0];
    EXPECT_NE(notices[0].find("certificate verify failed"), std::string::npos) << notices[0];
    EXPECT_EQ(p->queued(), 1u);
}

}  // namespace

namespace {

TEST_F(Publishing, TlsToAPlainListenerIsToldAsATlsFailure)
{
    MosquittoBroker broker;
    auto c = config(broker);
    c.url.tls = true;  // mqtts:// to the plain port
    c.caFile = broker.otherCaFile();  // any CA: the handshake fails before a certificate is seen
    auto p = publisher(c);
    p->start();
    ASSERT_TRUE(RunUntil([&] { return !notices.empty(); }));
    serve(1200);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(startsWith(notices[0], "TLS with the broker at 127.0.0.1:" + std::to_string(broker.port()) + " failed: "))
        << notices[0];
}

}  // namespace

namespace {

TEST_F(Publishing, ABrokerThatNeverAnswersIsGivenUpAndTriedAgain)
{
    // A listening socket that takes connections and never says a word.
    const int port = freeLocalPort();
    UniqueFd silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    ASSERT_EQ(::bind(silent.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent.get(), 8), 0);
    ASSERT_EQ(::fcntl(silent.get(), F_SETFL, O_NONBLOCK), 0);
    MqttPublisher::Config c;
    c.url = parseMqttUrl("mqtt://127.0.0.1:" + std::to_string(port) + "/lab");
    c.name = "bench1";
    c.answerTimeoutMs = 200;
    auto p = publisher(c);
    p->start();
    ASSERT_TRUE(RunUntil([&] { return !notices.empty(); }));
    EXPECT_EQ(notices[0], "cannot reach the broker at 127.0.0.1:" + std::to_string(port) + ": no answer within 200 ms; retrying");
    // It tries again, and says nothing new.
    std::vector<UniqueFd> taken;
    ASSERT_TRUE(RunUntil([&] {
        for (int fd; (fd = ::accept4(silent.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
            taken.emplace_back(fd);
        return taken.size() >= 2;
    }));
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_FALSE(p->connected());
}

}  // namespace

namespace {

TEST_F(Publishing, ReadingsTheBrokerNeverAcknowledgedGoAgainFirst)
{
    MosquittoBroker broker;
    MqttSubscriber sub(broker.port(), "lab/#");
    auto p = publisher(config(broker));
    p->start();
    for (int i = 0; i < 100; ++i)
        p->publishReading(reading(i));
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") == 100 && p->queued() == 0; }));
    // A frozen broker takes the bytes into its socket and answers nothing;
    // killed then, it never passes them on.
    broker.pause();
    for (int i = 100; i < 300; ++i)
        p->publishReading(reading(i));
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(p->queued(), 200u);
    broker.kill();
    ASSERT_TRUE(RunUntil([&] { return !p->connected(); }));
    broker.restart();
    sub.reconnect();
    ASSERT_TRUE(RunUntil([&] { return p->queued() == 0; }, 15000));
    ASSERT_TRUE(RunUntil([&] { return sub.count("lab/bench1/reading") >= 300; }));
    const std::vector<int> got = numbers(sub.payloads("lab/bench1/reading"));
    expectAllInOrder(got, 300);
    EXPECT_EQ(got.size(), 300u);  // nothing came twice: the first broker passed on none of them
}

}  // namespace

namespace {

TEST(MqttPublisherConfig, RefusesANameThatMakesNoTopic)
{
    for (const char* name : {"", "a+b", "#", "a/b"}) {
        SCOPED_TRACE(name);
        MqttPublisher::Config c;
        c.url = parseMqttUrl("mqtt://127.0.0.1/lab");
        c.name = name;
        EXPECT_THROW(MqttPublisher p(c), std::invalid_argument);
    }
    MqttPublisher::Config c;
    c.url.host = "127.0.0.1";  // no prefix
    c.name = "bench1";
    EXPECT_THROW(MqttPublisher p(c), std::invalid_argument);
}

}  // namespace
