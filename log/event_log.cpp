#include "log/event_log.h"

#include <cstdio>

#include "core/textfile.h"

namespace movra {

const std::array<ColorPair, 4> kEventClassColors = {{
    {MakeRgb(255, 255, 255), MakeRgb(150, 0, 0)},
    {MakeRgb(255, 255, 255), MakeRgb(200, 0, 150)},
    {MakeRgb(255, 255, 255), MakeRgb(0, 150, 150)},
    {MakeRgb(200, 255, 200), MakeRgb(0, 0, 50)},
}};

int32_t LogClass(uint32_t flags) {
    if (flags & LOG_ERROR) return kLogClassError;
    if (flags & LOG_WARN) return kLogClassWarning;
    if (flags & LOG_LIMIT) return kLogClassLimit;
    return kLogClassInfo;
}

Text LogTimestamp(const SystemTime& t) {
    return ClockText(t, kLogClock);
}

Text CutTrayTip(TextView text) {
    if (text.size() <= kTrayTipMax) return Text(text);
    size_t cut = kTrayTipMax;
    // A lone high surrogate at the end would show as a broken character.
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    return Text(text.substr(0, cut));
}

LogFileResult AppendLogFileLine(const Text& fileName, TextView line) {
    FILE* f = OpenFile(fileName, "a+b");
    if (!f) return LogFileResult::kOpenFailed;
    bool empty = std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) == 0;
    bool utf8 = false;
    if (!empty && std::fseek(f, 0, SEEK_SET) == 0) {
        unsigned char head[3] = {0, 0, 0};
        utf8 =
            std::fread(head, 1, 3, f) == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    }
    std::string bytes;
    Text withEnd(line);
    withEnd += u'\n';
    if (utf8) {
        for (char c : ToUtf8(withEnd)) {
            if (c == '\n') bytes += '\r';
            bytes += c;
        }
    } else {
        if (empty) bytes = "\xFF\xFE";
        bytes += EncodeUtf16Lines(withEnd);
    }
    // Switching from reading to writing needs a seek; appends go to the end anyway.
    std::fseek(f, 0, SEEK_END);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    // A full disk often shows only when the buffer is pushed out at the close.
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok ? LogFileResult::kWritten : LogFileResult::kWriteFailed;
}

EventLog::EventLog(Model& model, const Clock& clock) : model_(model), clock_(clock) {
    colors_.SetColors(kEventClassColors);
}

void EventLog::AddLine(Text text, int32_t cls, LogEffects& fx) {
    colors_.SetItemColor(static_cast<int32_t>(lines_.size()), cls);
    fx.added.push_back({text, cls});
    lines_.push_back({std::move(text), cls});
}

void EventLog::ShowState(uint32_t mode, const Text& server, LogEffects& fx) {
    uint32_t state = ConnState();
    if (state & LOG_CONNECTED) {
        title_ = u"Movra - Подключен к " + server;
        icon_ = mode != 0 ? TrayIcon::kRegulating : TrayIcon::kMonitoring;
        tip_ = CutTrayTip(title_);
        fx.title = title_;
        fx.modifyTray = true;
    }
    if (state & LOG_DISCONNECTED) {
        title_ = u"Movra - Отключен";
        icon_ = TrayIcon::kDisconnected;
        tip_ = CutTrayTip(title_);
        fx.title = title_;
        fx.modifyTray = true;
        fx.refreshTable = true;
    }
    fx.icon = icon_;
    fx.tooltip = tip_;
}

LogEffects EventLog::OnLogLine(uint32_t flags, TextView text) {
    LogEffects fx;
    if (flags & LOG_STATUS) {
        status_ = Text(text);
        tip_ = CutTrayTip(u"Movra:" + status_);
        fx.status = status_;
        fx.modifyTray = true;
        fx.icon = icon_;
        fx.tooltip = tip_;
        return fx;
    }

    Text line = LogTimestamp(clock_.LocalNow());
    line += u' ';
    line += text;

    Text fileName, server;
    uint32_t maxSize = 0;
    int32_t mode = 0;
    {
        Model::Guard g(model_);
        fileName = model_.settings.LogFileName;
        maxSize = model_.settings.LogMaxSize;
        server = model_.settings.Server;
        mode = model_.settings.TrafficSpeedAutoControll;
    }

    AddLine(line, LogClass(flags), fx);
    if (maxSize != 0) {
        while (lines_.size() > maxSize) {
            lines_.pop_front();
            // The oldest line's color index goes with it, so every line keeps its class.
            colors_.RemoveRow(0);
            ++fx.removedFromTop;
        }
    }
    fx.select = static_cast<int32_t>(lines_.size()) - 1;

    const LogFileResult written =
        fileName.empty() ? LogFileResult::kWritten : AppendLogFileLine(fileName, line);
    if (written != LogFileResult::kWritten) {
        // A file that takes no lines is as good as one that cannot be opened.
        const TextView what =
            written == LogFileResult::kOpenFailed ? u"Ошибка открытия \"" : u"Ошибка записи \"";
        AddLine(Text(what) + fileName + u"\" Отключаю запись в лог файл", kLogClassError, fx);
        Model::Guard g(model_);
        // Only the name that failed is switched off; one set meanwhile stays.
        if (model_.settings.LogFileName == fileName) model_.settings.LogFileName.clear();
    }

    if (flags & (LOG_DISCONNECTED | LOG_CONNECTED | LOG_MODE)) {
        if (!(flags & LOG_MODE)) {
            if (ConnState() == EXIT_PENDING) fx.close = true;
            SetConnState(flags);
        }
        ShowState(static_cast<uint32_t>(mode), server, fx);
    }
    return fx;
}

LogRequest EventLog::ClearLogFile() {
    Text name;
    {
        Model::Guard g(model_);
        name = model_.settings.LogFileName;
    }
    FILE* f = OpenFile(name, "wb");
    if (f) {
        // An emptied log file is a new UTF-16 text file: just its byte-order mark.
        bool ok = std::fwrite("\xFF\xFE", 1, 2, f) == 2;
        ok = std::fclose(f) == 0 && ok;
        if (ok) return {LOG_INFO, name + u" Очищен"};
    }
    return {LOG_WARN, u"Ошибка очистки \"" + name};
}

}  // namespace movra
