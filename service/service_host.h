#pragma once
// The service's host: runs the application with no window. Its own loop thread stands where the
// window's thread stands in Movra.exe: the workers' lines, summaries and boxes are queued to it
// (no worker waits on it), and it hands them to the application, writes Movra.log through it and
// reports what matters to the system's event log. It connects at start when the password is
// stored, tries again after a run ends while it is not stopping, and runs the exit on a stop.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/exit_deadline.h"
#include "core/clock.h"
#include "core/file_system.h"
#include "core/text.h"
#include "engine/regulator_lock.h"
#include "engine/tiserver.h"
#include "service/client_hub.h"

namespace movra::service {

// How a report appears in the system's event log.
enum class EventType { kInformation, kWarning, kError };

// The system's event log (the SCM part), or a test's record. Called on the loop thread.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void Report(EventType type, const Text& text) = 0;
};

// Which event lines go to the event log, and as what: errors as errors; a connection made or
// ended as information; the other warning-class lines as warnings, but not a user falling asleep
// or waking up; the rest not at all. The same text goes at most once per kRepeatQuiet.
std::optional<EventType> EventTypeOfLine(uint32_t flags);
// Whether a box's text repeats a line of its own (connect, log-in, poll and regulation
// failures, the unreadable Movra.cfg at start), which is already in the log and the event log.
bool BoxRepeatsLine(const Text& text);

inline constexpr std::chrono::minutes kRepeatQuiet{10};

// The host's own lines (Movra.log and the event log).
inline const Text kServiceStartedLine = u"Служба Movra запущена";
inline const Text kServiceStoppingLine = u"Служба Movra останавливается";
inline const Text kServiceStoppedLine = u"Служба Movra остановлена";
inline const Text kNoPasswordLine =
    u"Пароль TI не сохранен в Movra.cfg: служба не подключается к серверу";

// When the host tries to connect again after a run has ended without a stop: `first` after the
// end, doubling while no try reaches the logged-in state, at most `most`.
struct RetryPolicy {
    std::chrono::milliseconds first{30000};
    std::chrono::milliseconds most{300000};
};

struct ServiceHostParts {
    TiConnector* connector = nullptr;
    EventSink* events = nullptr;
    // The machine's one-regulator place (null: not checked).
    RegulatorLock* regulator = nullptr;
    // Movra.cfg's and Movra.log's folder is the current directory; null: the system's.
    FileSystem* files = nullptr;
    // Ends the process at once when the stop overran its bound (the SCM part reports the
    // service stopped first); empty: std::abort.
    std::function<void()> endProcess;
    // The exit's and the retries' clock (empty: SteadyMs()); the lines' clock (null: system).
    MonotonicMs steadyMs;
    const Clock* clock = nullptr;
    RetryPolicy retry;
    // Each line as it is logged (the console of `run`); empty: none.
    std::function<void(uint32_t flags, const Text& text)> echo;
};

class ServiceHost {
  public:
    explicit ServiceHost(ServiceHostParts parts);
    ~ServiceHost();
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    // Runs the service on the calling thread until a stop has run the exit: reads Movra.cfg,
    // logs the start, connects (or says why not), handles what the workers send and retries.
    // While the stop runs, `stopProgress` is called at least every kTick (the SCM
    // part reports STOP_PENDING with the next checkpoint). Returns after the exit's end; when
    // the exit overran its bound, endProcess was called instead.
    void Run(const std::function<void()>& stopProgress);
    // Any thread (the SCM's handler, Ctrl+C): asks Run to stop. Returns at once.
    void RequestStop();
    // Where the pipe hands the windows that attach; they are served by the loop thread while
    // Run runs, and closed when it ends.
    ClientHub& Clients();

    // How often the loop looks at the workers and the clock (and calls stopProgress).
    static constexpr std::chrono::milliseconds kTick{250};

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace movra::service
