#pragma once
// A test's MQTT subscriber through libmosquitto: connects to 127.0.0.1 (or
// over TLS with a CA file), subscribes to a filter at QoS 1 and collects
// every message (topic, payload, retain flag) on a thread of its own, so the
// test's thread may serve its event loop meanwhile. The constructor returns
// once the broker has confirmed the subscription; a lost connection is not
// taken up again by itself: reconnect() does that (blocking), keeping what was
// collected, so a test decides when the subscriber is back. Failures throw
// std::runtime_error. Users link libmosquitto (quelt_mqtt brings it).
#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <unistd.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retain = false;
};

struct MqttSubscriberOptions {
    std::string user;
    std::string password;
    std::string caFile;  // non-empty: TLS with this CA
};

class MqttSubscriber {
public:
    using Options = MqttSubscriberOptions;

    MqttSubscriber(int port, std::string filter, Options options = {})
        : port_(port),
          filter_(std::move(filter)),
          options_(std::move(options))
    {
        mosquitto_lib_init();
        connect();
    }
    ~MqttSubscriber() { disconnect(); }
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Connects and subscribes again (after the broker came back).
    void reconnect()
    {
        disconnect();
        connect();
    }

    std::vector<MqttMessage> messages() const
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The payloads that came on `topic`, in order.
    std::vector<std::string> payloads(const std::string& topic) const
    {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const MqttMessage& m : messages_)
            if (m.topic == topic)
                out.push_back(m.payload);
        return out;
    }
    size_t count(const std::string& topic) const { return payloads(topic).size(); }
    // The last payload on `topic`, "" when none came.
    std::string last(const std::string& topic) const
    {
        const std::vector<std::string> all = payloads(topic);
        return all.empty() ? std::string() : all.back();
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

private:
    void connect()
    {
        // Distinct client ids for every subscriber and connection of the process.
        const std::string id = "quelt-test-sub-" + std::to_string(::getpid()) + "-" +
                               std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" + std::to_string(++connections_);
        mosq_ = mosquitto_new(id.c_str(), true, this);
        if (!mosq_)
            throw std::runtime_error("mosquitto_new failed");
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        if (!options_.user.empty())
            mosquitto_username_pw_set(mosq_, options_.user.c_str(), options_.password.c_str());
        if (!options_.caFile.empty())
            mosquitto_tls_set(mosq_, options_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* me, int, int, const int*) {
            auto* self = static_cast<MqttSubscriber*>(me);
            std::lock_guard lock(self->mutex_);
            self->subscribed_ = true;
            self->changed_.notify_all();
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* me, const mosquitto_message* m) {
            auto* self = static_cast<MqttSubscriber*>(me);
            std::lock_guard lock(self->mutex_);
            self->messages_.push_back(MqttMessage{m->topic, std::string(static_cast<const char*>(m->payload), size_t(m->payloadlen)), m->retain});
        });
        const int rc = mosquitto_connect(mosq_, "127.0.0.1", port_, 30);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(mosq_);
            mosq_ = nullptr;
            throw std::runtime_error(std::string("the subscriber cannot connect: ") + mosquitto_strerror(rc));
        }
        subscribed_ = false;
        mosquitto_subscribe(mosq_, nullptr, filter_.c_str(), 1);
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_)
                if (mosquitto_loop(mosq_, 20, 1) != MOSQ_ERR_SUCCESS)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [this] { return subscribed_; })) {
            lock.unlock();
            disconnect();
            throw std::runtime_error("the broker did not confirm the subscription to " + filter_);
        }
    }

    void disconnect()
    {
        if (!mosq_)
            return;
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        mosquitto_disconnect(mosq_);
        mosquitto_loop(mosq_, 10, 1);
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }

    const int port_;
    const std::string filter_;
    const Options options_;
    mosquitto* mosq_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    int connections_ = 0;
    std::vector<MqttMessage> messages_;
};
