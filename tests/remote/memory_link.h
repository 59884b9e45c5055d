#pragma once
// An in-memory conversation between a RemoteApp and a service's ClientHub: each direction is a
// queue delivered in order on a thread of its own, as a pipe's reader thread delivers, and a
// closed end is reported to the other side once what was queued has gone.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "remote/remote_app.h"
#include "service/client_hub.h"

namespace movra::testing {

class MemoryEnd : public remote::Outbox {
  public:
    ~MemoryEnd() override { Stop(); }
    void Start(std::function<void(remote::Message)> deliver, std::function<void()> gone) {
        deliver_ = std::move(deliver);
        gone_ = std::move(gone);
        thread_ = std::thread([this] { Run(); });
    }
    void Send(std::shared_ptr<const remote::Message> message) override {
        std::lock_guard<std::mutex> l(m_);
        if (closed_) return;
        queue_.push_back(std::move(message));
        cv_.notify_one();
    }
    void Close() override {
        std::lock_guard<std::mutex> l(m_);
        closed_ = true;
        cv_.notify_one();
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> l(m_);
            stop_ = true;
            cv_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> l(m_);
        for (;;) {
            cv_.wait(l, [&] { return stop_ || closed_ || !queue_.empty(); });
            if (stop_) return;
            if (queue_.empty()) {
                l.unlock();
                gone_();
                return;
            }
            // Each side gets its own copy, as a decoded frame would be.
            remote::Message copy = *queue_.front();
            queue_.pop_front();
            l.unlock();
            deliver_(std::move(copy));
            l.lock();
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<const remote::Message>> queue_;
    bool closed_ = false, stop_ = false;
    std::function<void(remote::Message)> deliver_;
    std::function<void()> gone_;
    std::thread thread_;
};

class MemoryLink {
  public:
    explicit MemoryLink(service::ClientHub& hub) : hub_(hub) {}
    ~MemoryLink() { Stop(); }
    // What the window sends into.
    remote::Outbox& ToService() { return toService_; }
    // Joins the service and starts delivering both ways.
    void Start(remote::RemoteApp& app) {
        toWindow_ = std::make_shared<MemoryEnd>();
        id_ = hub_.Join(toWindow_);
        toWindow_->Start([&app](remote::Message m) { app.Receive(std::move(m)); },
                         [&app] { app.Gone(u"канал закрыт"); });
        toService_.Start([this](remote::Message m) { hub_.Receive(id_, std::move(m)); },
                         [this] { hub_.Leave(id_, {}); });
    }
    // The service's end goes away without a word.
    void Cut() { toWindow_->Close(); }
    void Stop() {
        toService_.Stop();
        if (toWindow_) toWindow_->Stop();
    }

  private:
    service::ClientHub& hub_;
    MemoryEnd toService_;
    std::shared_ptr<MemoryEnd> toWindow_;
    uint64_t id_ = 0;
};

}  // namespace movra::testing
