#include "poll/web/EventHub.h"

#include <algorithm>
#include <chrono>

std::shared_ptr<EventHub::Client> EventHub::Join() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed || m_clients.size() >= m_clientLimit) return nullptr;
    m_clients.push_back(std::make_shared<Client>());
    return m_clients.back();
}

void EventHub::Leave(const std::shared_ptr<Client>& client) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase(m_clients, client);
}

void EventHub::Publish(const std::string& name, const std::string& data, const std::string& key) {
    const auto text =
        std::make_shared<const std::string>("event: " + name + "\ndata: " + data + "\n\n");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& c : m_clients) {
            if (c->dropped) continue;
            auto same = std::find_if(c->queue.begin(), c->queue.end(),
                                     [&](const Event& e) { return e.key == key; });
            if (same != c->queue.end()) {
                same->text = text;
                continue;
            }
            if (c->queue.size() >= m_queueLimit) {
                c->dropped = true, c->queue.clear();
                ++m_dropped;
                continue;
            }
            c->queue.push_back({key, text});
        }
    }
    m_wake.notify_all();
}

bool EventHub::Next(Client& client, std::string& text, int waitMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(waitMs),
                    [&] { return m_closed || client.dropped || !client.queue.empty(); });
    if (m_closed || client.dropped) return false;
    text.clear();
    for (const Event& e : client.queue) text += *e.text;
    client.queue.clear();
    return true;
}

void EventHub::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_wake.notify_all();
}

size_t EventHub::Clients() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clients.size();
}

uint64_t EventHub::Dropped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

bool EventHub::Closed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}
