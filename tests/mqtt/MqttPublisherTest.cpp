// The publisher against a real broker: readings arrive in order at QoS 1, the
// status is retained, nothing is lost while the broker is away (within the
// queue's bound), what cannot be kept is dropped oldest first and told once,
// refused logins and untrusted certificates are told once and tried again, and
// the broker says "offline" however the publisher ends.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mqtt/MqttPublisher.h"
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
