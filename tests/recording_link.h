#pragma once
// A window link for tests: records every call in order.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "core/log_flags.h"
#include "core/window_link.h"

namespace movra::testing {

struct LinkEvent {
    enum Kind { kLine, kRefresh, kUsersChanged, kMessage } kind;
    uint32_t flags = 0;
    Text text;
    bool operator==(const LinkEvent&) const = default;
};

class RecordingLink : public WindowLink {
  public:
    void LogLine(uint32_t flags, const Text& text) override {
        Add({LinkEvent::kLine, flags, text});
    }
    void RefreshTable() override { Add({LinkEvent::kRefresh, 0, {}}); }
    void UsersChanged() override { Add({LinkEvent::kUsersChanged, 0, {}}); }
    void ShowMessage(const Text& text) override { Add({LinkEvent::kMessage, 0, text}); }
    // Kept apart from the events, so that the sequences the tests expect stay as they were.
    void CycleSummaryReady(const CycleSummary& s) override {
        std::lock_guard<std::mutex> l(m_);
        summaries_.push_back(s);
    }
    std::vector<CycleSummary> Summaries() const {
        std::lock_guard<std::mutex> l(m_);
        return summaries_;
    }

    std::vector<LinkEvent> Events() const {
        std::lock_guard<std::mutex> l(m_);
        return events_;
    }
    std::vector<Text> Messages() const { return Texts(LinkEvent::kMessage); }
    std::vector<Text> Lines() const { return Texts(LinkEvent::kLine); }
    std::vector<Text> Texts(LinkEvent::Kind k) const {
        std::vector<Text> out;
        for (const auto& e : Events())
            if (e.kind == k) out.push_back(e.text);
        return out;
    }
    int Count(LinkEvent::Kind k) const {
        int n = 0;
        for (const auto& e : Events()) n += e.kind == k;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> l(m_);
        events_.clear();
        summaries_.clear();
    }

  protected:
    virtual void Add(LinkEvent e) {
        std::lock_guard<std::mutex> l(m_);
        events_.push_back(std::move(e));
    }

  private:
    mutable std::mutex m_;
    std::vector<LinkEvent> events_;
    std::vector<CycleSummary> summaries_;
};

// A window link for long runs: counts what arrives from any thread instead of keeping it.
class CountingLink : public WindowLink {
  public:
    std::atomic<int> lines{0}, refreshes{0}, messages{0}, fatal{0};
    void LogLine(uint32_t flags, const Text&) override {
        ++lines;
        if (flags == LOG_FATAL) ++fatal;
    }
    void RefreshTable() override { ++refreshes; }
    void UsersChanged() override {}
    void ShowMessage(const Text&) override { ++messages; }
};

}  // namespace movra::testing
