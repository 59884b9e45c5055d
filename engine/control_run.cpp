#include "engine/control_run.h"

#include <atomic>

#include "core/log_flags.h"
#include "engine/division.h"
#include "engine/limits.h"
#include "engine/polling.h"
#include "engine/summary.h"

namespace movra {

namespace {

std::atomic<uint64_t> g_runNumbers{0};

Text ControlFailureLine(const char* what) {
    return u"Внутренняя ошибка потока управления: " + FromUtf8(what ? what : "unknown") +
           u". Отключение от сервера.";
}

}  // namespace

uint64_t NextRunNumber() {
    return ++g_runNumbers;
}

ControlRun::ControlRun(Model& model, WindowLink& window, TiConnector& connector,
                       WorkerEvents& events, uint64_t ticket)
    : WorkerRun(model, window, events, ticket), connector_(connector) {}

ControlRun::~ControlRun() {
    Ending();
}

Text RegulatorBusyText(const Text& server) {
    return u"Ошибка подключения к " + server +
           u": сервер уже регулирует служба Movra или другая копия Movra";
}

bool ControlRun::HoldRegulator() {
    if (!lock_) return true;
    if (lock_->TryHold()) {
        holding_ = true;
        return true;
    }
    if (busy_ == BusyRegulator::kWait) {
        ctx_.window.LogLine(LOG_DONE, kRegulatorBusyWaitLine);
    } else {
        Text server;
        {
            Model::Guard g(ctx_.model);
            server = ctx_.model.settings.Server;
        }
        // As a failed connect: the line first, then the box.
        const Text text = RegulatorBusyText(server);
        ctx_.window.LogLine(LOG_FATAL, text);
        ctx_.window.ShowMessage(text);
    }
    Finish();
    return false;
}

void ControlRun::Ending() {
    if (!holding_) return;
    holding_ = false;
    lock_->Release();
}

bool ControlRun::ClaimSlot() {
    return Claim(u"Поток завершен.Перезапускаю...");
}

bool ControlRun::Start() {
    if (!HoldRegulator()) return false;
    if (ConnectAndLogIn(ctx_, connector_, LOG_OK_DISCONNECTED) != ConnectResult::kConnected) {
        Finish();
        return false;
    }
    ctx_.run = RunState{};
    ctx_.run.runNumber = NextRunNumber();
    return true;
}

void ControlRun::Announce() {
    int32_t mode = 0;
    bool autoMeasure = false;
    Text downloader;
    {
        Model::Guard g(ctx_.model);
        const Settings& s = ctx_.model.settings;
        mode = s.TrafficSpeedAutoControll;
        autoMeasure = s.AutoMeasure != 0;
        downloader = s.DOWNLOADER_USERNAME;
    }
    if (mode == ctx_.run.announcedMode) return;
    ctx_.run.announcedMode = mode;
    WindowLink& w = ctx_.window;
    switch (mode) {
        case kModeMonitoring:
            w.LogLine(LOG_MODE, u"Режим мониторинга (только чтение)");
            break;
        case kModeFreeChannel:
            w.LogLine(LOG_MODE, u"Режим динамического управления шириной канала для " + downloader);
            break;
        case kModeDownloadClient:
            w.LogLine(LOG_STATUS, u"Режим отдачи канала ослу");
            break;
        case kModeDivision:
            w.LogLine(LOG_MODE, u"Режим деления канала  поровну между активными пользователями!");
            if (autoMeasure) {
                w.LogLine(LOG_MODE, u"Режим автозамера скорости входного канала включен!!");
                ctx_.run.measurementArmed = true;
            }
            break;
        default:
            w.LogLine(LOG_INFO, u"Неизвестный режим!!!");
            break;
    }
}

void ControlRun::EndAfterPollFailure(const Text& key) {
    ctx_.server.reset();
    Text text = u"Ошибка получения данных о пользователе \"" + key + u"\"";
    ctx_.window.ShowMessage(text + u" Проверьте список пользователей");
    ctx_.window.LogLine(LOG_FATAL, text);
    Finish();
}

bool ControlRun::RunCycle() {
    Model& m = ctx_.model;
    CycleState cycle;
    {
        Model::Guard g(m);
        cycle.FreeIn = static_cast<int32_t>(m.settings.RXMAXkbit);
        cycle.FreeOut = static_cast<int32_t>(m.settings.TXMAXkbit);
        cycle.speedSum = 0;
        m.ResetGroupCycle();
    }
    Announce();

    Text failedKey;
    if (!PollUsers(ctx_, cycle, failedKey)) {
        EndAfterPollFailure(failedKey);
        return false;
    }
    ctx_.run.firstCycle = false;

    std::vector<CycleAction> actions;
    {
        Model::Guard g(m);
        actions = DivideChannel(m, cycle, ctx_.run);
    }
    for (const CycleAction& a : actions) {
        if (a.kind == CycleAction::kLog)
            ctx_.window.LogLine(a.flags, a.text);
        else
            ApplyLimits(ctx_, a.write);
    }

    Text status;
    CycleSummary summary;
    {
        Model::Guard g(m);
        summary = SummarizeCycle(m, cycle, ctx_.run);
        status = Fmt(u"Польз:%d Онлайн:%d Акт:%d Слабоакт:%d Спит:%d", m.NumUsers, cycle.online,
                     cycle.active, cycle.weak, cycle.sleeping);
        auto& t = m.ServerRowTexts;
        t[0] = Fmt(u"Групп:%d", m.NumGroups - 1);
        t[1] = Fmt(u"Польз:%d", m.NumUsers);
        t[2] = Fmt(u"Онлайн:%d", cycle.online);
        t[3] = Fmt(u"Акт:%d", cycle.active);
        t[4] = Fmt(u"Сл.Акт:%d", cycle.weak);
        t[5] = Fmt(u"Спит:%d", cycle.sleeping);
        m.ServerRow.RxTotal = cycle.rxSum;
        m.ServerRow.TxTotal = cycle.txSum;
    }
    ctx_.window.LogLine(LOG_STATUS, status);
    ctx_.window.RefreshTable();
    ctx_.window.CycleSummaryReady(summary);
    return true;
}

bool ControlRun::Pause() {
    uint32_t pause = 0;
    {
        Model::Guard g(ctx_.model);
        pause = ctx_.model.settings.RefreshTimer_msec;
    }
    return events_.stop.Wait(pause);
}

void ControlRun::Stop() {
    RunExitAction(ctx_);
    ctx_.window.LogLine(LOG_STOPPED, u"Отключение от сервера.... Поток завершен.");
    Finish();
}

void ControlRun::Run() {
    // A fault of ours or an answer we could not read ends the connection visibly instead of
    // ending the program.
    Guarded(ControlFailureLine, [this] {
        if (!ClaimSlot()) return;
        if (!Start()) return;
        while (connected()) {
            // An exit that began while connecting ends the run before it writes anything.
            if (Quitting()) {
                Stop();
                return;
            }
            if (!RunCycle()) return;
            if (Pause()) {
                Stop();
                return;
            }
        }
    });
}

}  // namespace movra
