// The page's live stream: events handed to every connected client without the poller ever
// waiting for one. An event not yet sent gives way to a newer one of the same key (a meter's
// reading to its next), so that a page gets the latest state in batches rather than every
// reading of a fast bus. Each client has a bounded queue; one that falls that far behind
// (a stuck or slow browser) is dropped, and its browser reconnects and reads the state
// afresh.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class EventHub {
  public:
    struct Event {
        std::string key;  // what a newer event replaces: "reading 3", "health"
        std::shared_ptr<const std::string> text;
    };
    struct Client {
        std::deque<Event> queue;
        bool dropped = false;
    };

    EventHub(size_t clientLimit, size_t queueLimit)
        : m_clientLimit(clientLimit), m_queueLimit(queueLimit) {}

    // A new client, or nothing when there are too many or the hub is closed.
    std::shared_ptr<Client> Join();
    void Leave(const std::shared_ptr<Client>& client);
    // "event: NAME\ndata: DATA\n\n" to every client; DATA is one line of JSON; key:
    // what it replaces if still unsent.
    void Publish(const std::string& name, const std::string& data, const std::string& key);
    // What the client has to send, waiting up to waitMs; false when it must end (dropped,
    // or the hub closed). Empty text after the wait: nothing came.
    bool Next(Client& client, std::string& text, int waitMs);
    void Close();
    bool Closed() const;
    size_t Clients() const;
    uint64_t Dropped() const;

  private:
    size_t m_clientLimit, m_queueLimit;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<Client>> m_clients;
    bool m_closed = false;
    uint64_t m_dropped = 0;
};
