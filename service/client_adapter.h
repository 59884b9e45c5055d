#pragma once
// The service's side of its windows: keeps the windows that attached, answers their requests
// through the application and passes on to them what a window of the desktop edition would see
// (states, lines, summaries, boxes). The host's loop thread alone calls it, so the application
// sees one caller, as it sees the window's thread in Movra.exe.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/application.h"
#include "core/cycle_summary.h"
#include "core/text.h"
#include "log/log_reader.h"
#include "remote/link.h"
#include "remote/messages.h"

namespace movra::service {

// The service's lines about its windows.
inline const Text kWindowAttachedLine = u"Окно Movra подключено: ";  // + who
inline const Text kWindowLeftLine = u"Окно Movra закрыто: ";         // + who
inline const Text kWindowDroppedLine = u"Окно Movra отключено: ";    // + why
// Why a window is dropped for what it sent.
inline const Text kProtocolViolation = u"нарушение порядка обмена";

// The most lines one ReadLog reply carries; a window reads a long file in several.
inline constexpr uint32_t kMaxLogLinesPerReply = 5000;

struct AdapterHooks {
    // Writes one of the service's own lines (Movra.log, the event log, the windows).
    std::function<void(uint32_t flags, const Text& text)> line;
    // A box a request raised: into the log as the host writes boxes, but not to every window.
    std::function<void(const Text& text)> box;
};

class ClientAdapter {
  public:
    ClientAdapter(Application& app, AdapterHooks hooks);
    ~ClientAdapter();
    ClientAdapter(const ClientAdapter&) = delete;
    ClientAdapter& operator=(const ClientAdapter&) = delete;

    void Join(uint64_t client, std::shared_ptr<remote::Outbox> out);
    void Receive(uint64_t client, const remote::Message& message);
    void Leave(uint64_t client, const Text& why);

    // What the windows see, as it happens.
    void LogLine(uint32_t flags, const Text& text);
    void Summary(const CycleSummary& summary);
    void Notice(const Text& text);
    // Something a window shows has changed: one State goes at the next Flush.
    void Changed() { stateDue_ = true; }
    // Sends the State that is due, once, to every window that said Hello.
    void Flush();
    // A worker that ended, or a connection that changed, after the last State sent: a State is
    // due (a worker's end comes after its last line and no refresh follows it).
    void Watch();
    // The service ends: every conversation is closed.
    void CloseAll();

    // While a request runs, the boxes the application raises on this thread belong to its
    // reply; null otherwise.
    std::vector<Text>* Capture() { return capture_; }

    size_t Windows() const { return windows_.size(); }

  private:
    struct Window {
        std::shared_ptr<remote::Outbox> out;
        bool welcomed = false;
        Text who;
        std::unique_ptr<LogFileReader> log;
        bool logEnded = false;  // read to its first line; only a restart reads again
    };

    void Hello(uint64_t client, Window& w, const remote::Hello& hello);
    void Request(Window& w, const remote::Request& request);
    // Ends a window's conversation for what it sent; one line says why.
    void Drop(uint64_t client, const Text& why);
    std::shared_ptr<const remote::Message> MakeState() const;
    void ToAll(std::shared_ptr<const remote::Message> message);

    Application& app_;
    AdapterHooks hooks_;
    std::map<uint64_t, Window> windows_;
    bool stateDue_ = false;
    // What the last State said.
    mutable bool sentRunning_ = false;
    mutable uint32_t sentConn_ = 0;
    std::vector<Text>* capture_ = nullptr;
};

}  // namespace movra::service
