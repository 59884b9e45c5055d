#pragma once
// An outbox that keeps what was sent to one window, for tests that speak as that window.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "deadline.h"
#include "remote/link.h"

namespace movra::testing {

class RecordingOutbox : public remote::Outbox {
  public:
    void Send(std::shared_ptr<const remote::Message> message) override {
        std::lock_guard<std::mutex> l(m_);
        if (!closed_) sent_.push_back(std::move(message));
    }
    void Close() override {
        std::lock_guard<std::mutex> l(m_);
        closed_ = true;
    }
    bool Closed() {
        std::lock_guard<std::mutex> l(m_);
        return closed_;
    }
    std::vector<std::shared_ptr<const remote::Message>> Sent() {
        std::lock_guard<std::mutex> l(m_);
        return sent_;
    }
    // The messages of type T sent so far.
    template <typename T>
    std::vector<T> All() {
        std::vector<T> out;
        for (const auto& m : Sent())
            if (const T* t = std::get_if<T>(m.get())) out.push_back(*t);
        return out;
    }
    // Waits until a message of type T has come, and returns the last one.
    template <typename T>
    T Await() {
        WaitUntil([&] { return !All<T>().empty(); });
        return All<T>().back();
    }

  private:
    std::mutex m_;
    bool closed_ = false;
    std::vector<std::shared_ptr<const remote::Message>> sent_;
};

}  // namespace movra::testing
