#include "sample_messages.h"

#include <limits>

namespace movra::remote::sample {

CTiUserData User(int i) {
    CTiUserData u;
    u.ActivityClass = kActive + i % 3;
    u.UserLimitMaxOut = 512 + i;
    u.UserLimitMaxIn = 2048 + i;
    u.UserGrID = 1 + i % 20;
    u.UserName = u"пользователь_" + Fmt(u"%d", i);
    u.UserKTraff = 1.5f + static_cast<float>(i % 7) / 8;
    u.Online = 1;
    u.RxTotal = 123456789.0 + i;
    u.TxTotal = 98765.4321 * (i + 1);
    u.Balance = -12.75 - i;
    u.RxSpeed = 1234.567 + i / 3.0;
    u.TxSpeed = 89.1 + i;
    u.RxLoad = 0.4375;
    u.TxLoad = 1.0 / (i + 3);
    u.LastActivity = SystemTime{2026, 12, 3, 9, 14, 5, static_cast<uint16_t>(i % 60), 250};
    u.IP = u"10.0." + Fmt(u"%d.%d", i / 250, i % 250 + 1);
    u.TiRxSpeed = 1000.25;
    u.TiTxSpeed = 333.3;
    u.LimitIn = 1024 + i;
    u.LimitOut = 256 + i;
    u.StartLimitIn = 4096;
    u.StartLimitOut = 1024;
    u.NewLimitIn = -1;
    u.NewLimitOut = 300 + i;
    u.Id = 1000 + static_cast<uint64_t>(i);
    u.StartLimitsRun = 7;
    return u;
}

Group GroupNo(int i) {
    Group g;
    g.GroupName = i == 0 ? Text(u"Без группы") : u"Отдел " + Fmt(u"%d", i);
    g.GroupID = i;
    g.UserCount = 100 + i;
    g.ActiveCount = 40 + i;
    g.SleepCount = 3;
    g.WeakCount = 5;
    g.KTraffSum = 150.5f;
    g.KTraffLeft = 0.1f;
    g.GroupMaxIn = 8192.0f + static_cast<float>(i);
    g.Key = 500 + static_cast<uint64_t>(i);
    return g;
}

Settings SettingsRecord() {
    Settings s;
    s.SrvLimTraff_MB = 1000;
    s.SpeedLimTraff_Mode = 2;
    s.SpeedLimTraff_SefeTraff = 150;
    s.SpeedLimTraff_MaxTraff = 700;
    s.SpeedLimTraff_StartKoeff = 90.5;
    s.SpeedLimTraff_EndKoeff = 12.125;
    s.SpeedLimTraff_DnoLimitKbits = 16;
    s.BeforeQuit = 1;
    s.UserMAXSpeedLimits = 0;
    s.ReUseFreeChanal = 0;
    s.DisplaySpeed_in_kBytes_s = 1;
    s.AutoMeasure = 1;
    s.UseAutoChanalWithCorrection = 3;
    s.AutoZamer_minRXchanal = 128;
    s.UserSleepTraffic = 5;
    s.LogFileName = u"Журнал.log";
    s.LogMaxSize = 4000000000u;
    s.GridSize = 6;
    s.Server = u"ti.example.local";
    s.AutoLoginPass = u"пароль";
    s.StorePassword = 1;
    s.RefreshTimer_msec = 2000;
    s.TrafficSpeedAutoControll = kModeDivision;
    s.RXMAXkbit = 100000;
    s.TXMAXkbit = 50000;
    s.DOWNLOADER_USERNAME = u"загрузчик";
    s.UserSleep_TimeOut_sec = 45;
    s.Use_Sleepers_Traffic = 0;
    s.ChanalBorrowing = 1;
    s.StartMinimized = 1;
    s.ConfigFileName = u"C:\\ProgramData\\Movra\\Movra.cfg";
    return s;
}

State StateOf(int users, int groups) {
    State st;
    for (int i = 0; i < users; ++i) st.snapshot.users.push_back(User(i));
    for (int i = 0; i < groups; ++i) st.snapshot.groups.push_back(GroupNo(i));
    st.snapshot.serverRow = User(-1);
    st.snapshot.serverRow.UserName = kServerRowName;
    for (size_t i = 0; i < st.snapshot.serverRowTexts.size(); ++i)
        st.snapshot.serverRowTexts[i] = u"Итого " + Fmt(u"%d", static_cast<int>(i));
    st.snapshot.settings = SettingsRecord();
    st.snapshot.connState = 3;
    st.settingsRevision = 42;
    st.workerRunning = true;
    st.exitBegun = true;
    return st;
}

CycleSummary SummaryOf(int groups) {
    CycleSummary s;
    s.at = ClockStamp{1796126400, 1796137200};
    for (int i = 0; i < groups; ++i)
        s.groups.push_back(GroupCycleFigures{500 + static_cast<uint64_t>(i),
                                             u"Отдел " + Fmt(u"%d", i), 812.5 + i, 96.25,
                                             1024.0 * (i + 1), 512.0});
    s.widthIn = 100000;
    s.widthOut = 50000;
    s.measuredArmed = true;
    s.measuredIn = 87654.321;
    s.online = 150;
    s.active = 40;
    s.weak = 7;
    s.sleeping = 12;
    s.run = 3;
    return s;
}

chart::HistoryData History(int seconds, int minutes, int groups) {
    chart::HistoryData h;
    for (int g = 0; g < groups; ++g)
        h.keys.push_back(
            chart::HistoryKey{500 + static_cast<uint64_t>(g), u"Отдел " + Fmt(u"%d", g)});
    for (int i = 0; i < seconds; ++i) {
        chart::HistorySecond s;
        s.time = 1796126400 + i;
        s.offset = 10800;
        s.afterBreak = i == 0;
        s.measured = i % 2 == 0;
        s.widthIn = 100000;
        s.widthOut = 50000;
        s.measuredIn = 87000.5 + i;
        for (int g = 0; g < groups; ++g)
            s.figures.push_back(chart::HistoryFigure{
                500 + static_cast<uint64_t>(g), 812.5f + static_cast<float>(i % 100), 96.125f});
        h.seconds.push_back(std::move(s));
    }
    for (int i = 0; i < minutes; ++i) {
        chart::HistoryMinute m;
        m.minute = 1796126400 - 60 * (minutes - i);
        m.offset = 10800;
        m.seconds = 60;
        m.measuredSeconds = 30;
        m.measuredSum = 2610015.0;
        m.widthIn = 100000;
        m.widthOut = 50000;
        for (int g = 0; g < groups; ++g)
            m.figures.push_back(chart::HistoryMinuteFigure{500 + static_cast<uint64_t>(g), 58,
                                                           10.5f, 900.25f, 30000.0f, 1.0f, 99.0f,
                                                           4500.5f});
        h.minutes.push_back(std::move(m));
    }
    return h;
}

std::vector<Message> EveryMessage() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Message> all;
    all.push_back(Hello{kProtocolVersion, u"Администратор@СЕРВЕР, процесс 4242"});
    all.push_back(Welcome{kProtocolVersion});
    all.push_back(Refusal{7, u"Служба Movra говорит на другой версии"});
    State st = StateOf(3, 2);
    st.snapshot.users[1].RxSpeed = -nan;
    st.snapshot.users[2].TxLoad = std::numeric_limits<double>::infinity();
    st.snapshot.users[2].UserLimitMaxIn = std::numeric_limits<int32_t>::min();
    st.snapshot.users[2].Id = std::numeric_limits<uint64_t>::max();
    all.push_back(std::move(st));
    all.push_back(LogLine{0x8001u, u"Подключение к серверу ТИ: ошибка 0x80070005"});
    all.push_back(Summary{SummaryOf(3)});
    all.push_back(Notice{u"Не удалось записать Movra.cfg"});
    all.push_back(Request{1, Connect{}});
    all.push_back(Request{2, Disconnect{}});
    all.push_back(Request{3, SetMode{kModeDivision}});
    all.push_back(Request{4, Import{5}});
    all.push_back(Request{5, Save{true}});
    all.push_back(Request{6, Load{}});
    all.push_back(Request{7, ClearLogFile{}});
    all.push_back(Request{8, ApplySettings{SettingsRecord(), 41}});
    all.push_back(Request{9, EditGroups{GroupsRequest{GroupsRequest::Kind::kMoveUser, u"Отдел 2",
                                                      12.5, u"пользователь_7"}}});
    all.push_back(Request{
        10, SetUserLimits{LimitRequest{
                1007, LimitEditorFields{u"пользователь_7", 1024, 256, 2048, 512, 2.5, 8192, -1}}}});
    all.push_back(Request{11, AddUser{u"новый_пользователь"}});
    all.push_back(Request{12, DeleteUsers{{1001, 1002, std::numeric_limits<uint64_t>::max()}}});
    all.push_back(Request{13, CheckGroups{}});
    all.push_back(Request{14, ReadLog{false, 200}});
    all.push_back(Request{std::numeric_limits<uint64_t>::max(), ReadHistory{}});
    Reply r;
    r.id = 14;
    r.outcome = Outcome::kAsk;
    r.text = u"Перезаписать Movra.cfg?";
    r.added = AddUserResult::kAlreadyPresent;
    r.lines = {u"03.12.2026 9:14:05 Подключен", u"", u"03.12.2026 9:14:00 Запуск"};
    r.end = true;
    r.history = History(3, 2, 2);
    all.push_back(std::move(r));
    return all;
}

}  // namespace movra::remote::sample
