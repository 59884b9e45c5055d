#pragma once
// A connector whose object is made only once the test lets it: a server that does not answer
// until then, and whose creation then fails with the given code.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/tiserver.h"

namespace movra::test {

class HungConnector : public TiConnector {
  public:
    explicit HungConnector(int32_t failure) : failure_(failure) {}
    std::unique_ptr<TiServer> Connect(const Text&) override {
        std::unique_lock<std::mutex> l(m_);
        called_ = true;
        cv_.notify_all();
        cv_.wait(l, [this] { return answer_; });
        throw TiError(failure_);
    }
    bool Called() {
        std::lock_guard<std::mutex> l(m_);
        return called_;
    }
    void Answer() {
        std::lock_guard<std::mutex> l(m_);
        answer_ = true;
        cv_.notify_all();
    }

  private:
    const int32_t failure_;
    std::mutex m_;
    std::condition_variable cv_;
    bool called_ = false, answer_ = false;
};

}  // namespace movra::test
