// The codec: every message comes back exactly as sent, every broken input is a clean error.
#include "remote/codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

#include <nlohmann/json.hpp>

#include "sample_messages.h"

namespace movra::remote {
namespace {

using Json = nlohmann::json;

// ---- Field-by-field equality, floating values by their bits (NaN included) ----

auto Tie(const CTiUserData& u) {
    return std::tie(u.ActivityClass, u.UserLimitMaxOut, u.UserLimitMaxIn, u.UserGrID, u.UserName,
                    u.UserKTraff, u.Online, u.RxTotal, u.TxTotal, u.Balance, u.RxSpeed, u.TxSpeed,
                    u.RxLoad, u.TxLoad, u.LastActivity, u.IP, u.TiRxSpeed, u.TiTxSpeed, u.LimitIn,
                    u.LimitOut, u.StartLimitIn, u.StartLimitOut, u.NewLimitIn, u.NewLimitOut, u.Id,
                    u.StartLimitsRun);
}
auto Tie(const Group& g) {
    return std::tie(g.GroupName, g.GroupID, g.UserCount, g.ActiveCount, g.SleepCount, g.WeakCount,
                    g.KTraffSum, g.KTraffLeft, g.GroupMaxIn, g.Key);
}
auto Tie(const Settings& s) {
    return std::tie(s.SrvLimTraff_MB, s.SpeedLimTraff_Mode, s.SpeedLimTraff_SefeTraff,
                    s.SpeedLimTraff_MaxTraff, s.SpeedLimTraff_StartKoeff, s.SpeedLimTraff_EndKoeff,
                    s.SpeedLimTraff_DnoLimitKbits, s.BeforeQuit, s.UserMAXSpeedLimits,
                    s.ReUseFreeChanal, s.DisplaySpeed_in_kBytes_s, s.AutoMeasure,
                    s.UseAutoChanalWithCorrection, s.AutoZamer_minRXchanal, s.UserSleepTraffic,
                    s.LogFileName, s.LogMaxSize, s.GridSize, s.Server, s.AutoLoginPass,
                    s.StorePassword, s.RefreshTimer_msec, s.TrafficSpeedAutoControll, s.RXMAXkbit,
                    s.TXMAXkbit, s.DOWNLOADER_USERNAME, s.UserSleep_TimeOut_sec,
                    s.Use_Sleepers_Traffic, s.ChanalBorrowing, s.StartMinimized, s.ConfigFileName);
}
auto Tie(const AppSnapshot& s) {
    return std::tie(s.users, s.groups, s.serverRow, s.serverRowTexts, s.settings, s.connState);
}
auto Tie(const GroupCycleFigures& g) {
    return std::tie(g.key, g.name, g.rxSpeed, g.txSpeed, g.limitIn, g.limitOut);
}
auto Tie(const CycleSummary& s) {
    return std::tie(s.at, s.groups, s.widthIn, s.widthOut, s.measuredArmed, s.measuredIn, s.online,
                    s.active, s.weak, s.sleeping, s.run);
}
auto Tie(const chart::HistoryKey& k) {
    return std::tie(k.key, k.name);
}
auto Tie(const chart::HistoryFigure& f) {
    return std::tie(f.key, f.in, f.out);
}
auto Tie(const chart::HistorySecond& s) {
    return std::tie(s.time, s.offset, s.afterBreak, s.measured, s.widthIn, s.widthOut, s.measuredIn,
                    s.figures);
}
auto Tie(const chart::HistoryMinuteFigure& f) {
    return std::tie(f.key, f.seconds, f.minIn, f.maxIn, f.sumIn, f.minOut, f.maxOut, f.sumOut);
}
auto Tie(const chart::HistoryMinute& m) {
    return std::tie(m.minute, m.offset, m.seconds, m.measuredSeconds, m.measuredSum, m.widthIn,
                    m.widthOut, m.figures);
}
auto Tie(const chart::HistoryData& h) {
    return std::tie(h.keys, h.seconds, h.minutes);
}
auto Tie(const Hello& m) {
    return std::tie(m.version, m.client);
}
auto Tie(const Welcome& m) {
    return std::tie(m.version);
}
auto Tie(const Refusal& m) {
    return std::tie(m.version, m.text);
}
auto Tie(const State& m) {
    return std::tie(m.snapshot, m.settingsRevision, m.workerRunning, m.exitBegun);
}
auto Tie(const LogLine& m) {
    return std::tie(m.flags, m.text);
}
auto Tie(const Summary& m) {
    return std::tie(m.summary);
}
auto Tie(const Notice& m) {
    return std::tie(m.text);
}
auto Tie(const Request& m) {
    return std::tie(m.id, m.body);
}
auto Tie(const Reply& m) {
    return std::tie(m.id, m.outcome, m.text, m.added, m.lines, m.end, m.history);
}
auto Tie(const Connect&) {
    return std::tie();
}
auto Tie(const Disconnect&) {
    return std::tie();
}
auto Tie(const SetMode& m) {
    return std::tie(m.mode);
}
auto Tie(const Import& m) {
    return std::tie(m.kinds);
}
auto Tie(const Save& m) {
    return std::tie(m.confirmed);
}
auto Tie(const Load&) {
    return std::tie();
}
auto Tie(const ClearLogFile&) {
    return std::tie();
}
auto Tie(const ApplySettings& m) {
    return std::tie(m.edited, m.base);
}
auto Tie(const GroupsRequest& r) {
    return std::tie(r.kind, r.group, r.share, r.user);
}
auto Tie(const EditGroups& m) {
    return std::tie(m.request);
}
auto Tie(const LimitEditorFields& f) {
    return std::tie(f.UserName, f.CurIn, f.CurOut, f.NewIn, f.NewOut, f.KTraff, f.MaxIn, f.MaxOut);
}
auto Tie(const LimitRequest& r) {
    return std::tie(r.userId, r.fields);
}
auto Tie(const SetUserLimits& m) {
    return std::tie(m.request);
}
auto Tie(const AddUser& m) {
    return std::tie(m.name);
}
auto Tie(const DeleteUsers& m) {
    return std::tie(m.ids);
}
auto Tie(const CheckGroups&) {
    return std::tie();
}
auto Tie(const ReadLog& m) {
    return std::tie(m.restart, m.count);
}
auto Tie(const ReadHistory&) {
    return std::tie();
}

template <class T>
bool Same(const T& a, const T& b);

template <class T>
bool SameValue(const T& a, const T& b) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::memcmp(&a, &b, sizeof(T)) == 0;
    } else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_same_v<T, Text> ||
                         std::is_same_v<T, SystemTime> || std::is_same_v<T, ClockStamp>) {
        return a == b;
    } else {
        return Same(a, b);
    }
}
template <class T>
bool SameValue(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameValue(a[i], b[i])) return false;
    return true;
}
template <class T, size_t N>
bool SameValue(const std::array<T, N>& a, const std::array<T, N>& b) {
    for (size_t i = 0; i < N; ++i)
        if (!SameValue(a[i], b[i])) return false;
    return true;
}
template <class... T>
bool SameValue(const std::variant<T...>& a, const std::variant<T...>& b) {
    return a.index() == b.index() &&
           std::visit(
               [&](const auto& x) { return Same(x, std::get<std::decay_t<decltype(x)>>(b)); }, a);
}
template <class T>
bool Same(const T& a, const T& b) {
    return std::apply(
        [&](const auto&... x) {
            return std::apply([&](const auto&... y) { return (SameValue(x, y) && ...); }, Tie(b));
        },
        Tie(a));
}

std::optional<Message> Decode(const std::vector<uint8_t>& body, DecodeError& error) {
    return DecodeBody(std::span<const uint8_t>(body), error);
}

Message RoundTrip(const Message& m) {
    DecodeError error;
    std::optional<Message> back = Decode(EncodeBody(m), error);
    EXPECT_TRUE(back) << error.what;
    return back ? *back : Message{};
}

TEST(Codec, EveryMessageComesBackExactly) {
    for (const Message& m : sample::EveryMessage()) {
        SCOPED_TRACE(m.index());
        const std::vector<uint8_t> body = EncodeBody(m);
        DecodeError error;
        std::optional<Message> back = Decode(body, error);
        ASSERT_TRUE(back) << error.what;
        EXPECT_TRUE(SameValue(m, *back));
        // The frame is the body behind its little-endian length.
        const std::vector<uint8_t> frame = EncodeFrame(m);
        ASSERT_EQ(frame.size(), body.size() + 4);
        EXPECT_EQ(frame[0] | frame[1] << 8 | frame[2] << 16 | frame[3] << 24,
                  static_cast<int>(body.size()));
        EXPECT_TRUE(std::equal(body.begin(), body.end(), frame.begin() + 4));
    }
}

TEST(Codec, FloatingValuesKeepEveryBit) {
    // Values at the edges of each width the writer picks, and NaNs with sign and payload.
    std::vector<double> doubles = {0.0,
                                   -0.0,
                                   1.0,
                                   -2.5,
                                   65504.0,
                                   65520.0,
                                   0.1,
                                   1.0 / 3,
                                   std::ldexp(1.0, -14),
                                   std::ldexp(1.0, -24),
                                   std::ldexp(3.0, -25),
                                   std::ldexp(1.0, -25),
                                   std::ldexp(1.0, -126),
                                   std::ldexp(1.0, -149),
                                   std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::max(),
                                   std::numeric_limits<float>::max(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(),
                                   -std::numeric_limits<double>::quiet_NaN()};
    std::vector<float> floats = {0.0f,
                                 -0.0f,
                                 1.5f,
                                 1e-8f,
                                 std::ldexp(1.0f, -24),
                                 std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::max(),
                                 -std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::quiet_NaN()};
    std::mt19937_64 random(20261209);
    for (int i = 0; i < 2000; ++i) {
        uint64_t b = random();
        double d;
        std::memcpy(&d, &b, 8);
        doubles.push_back(d);
        // Short mantissas too, which the narrower widths hold.
        doubles.push_back(
            std::ldexp(static_cast<double>(b & 0x7FF), static_cast<int>(b >> 56) - 150));
        uint32_t fb = static_cast<uint32_t>(b >> 13);
        float f;
        std::memcpy(&f, &fb, 4);
        if (!std::isnan(f) || (fb & 0x400000)) floats.push_back(f);  // quiet NaNs only
        floats.push_back(std::ldexp(static_cast<float>(b & 0x3FF), static_cast<int>(b >> 58) - 40));
    }
    Summary s;
    for (double d : doubles) s.summary.groups.push_back(GroupCycleFigures{1, u"", d, -d, d, d});
    Reply r;
    chart::HistorySecond second;
    for (float f : floats) second.figures.push_back(chart::HistoryFigure{2, f, -f});
    r.history.seconds.push_back(second);
    EXPECT_TRUE(SameValue(Message(s), RoundTrip(s)));
    EXPECT_TRUE(SameValue(Message(r), RoundTrip(r)));
}

TEST(Codec, TextsKeepEveryCodeUnit) {
    // Cyrillic, a pair beyond the BMP, NUL, and lone surrogates, which UTF-8 cannot carry.
    for (const Text& t : {Text(), Text(u"Подключен к ТИ"), Text(u"a\U0001F600b"), Text(u"a\0b", 3),
                          Text(u"x\xD800y"), Text(u"\xDC00"), Text(u"\xDBFF\xDBFF\xDFFF")}) {
        Notice n{t};
        Message back = RoundTrip(n);
        ASSERT_TRUE(std::holds_alternative<Notice>(back));
        EXPECT_EQ(std::get<Notice>(back).text, t);
    }
}

// ---- Broken input ----

std::vector<uint8_t> Cbor(const Json& j) {
    return Json::to_cbor(j);
}
Json TreeOf(const Message& m) {
    return Json::from_cbor(EncodeBody(m));
}

// Decoding fails with a short printable ASCII reason.
void ExpectRefused(const std::vector<uint8_t>& body, const std::string& label) {
    DecodeError error;
    EXPECT_FALSE(Decode(body, error)) << label;
    EXPECT_FALSE(error.what.empty()) << label;
    EXPECT_LT(error.what.size(), 80u) << label;
    for (char c : error.what) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << label;
}

TEST(Codec, RefusesWhatIsNotExactlyAMessage) {
    const Json state = TreeOf(sample::StateOf(2, 2));
    const Json reply = TreeOf(sample::EveryMessage().back());
    // The trees as they stand, written again by the library, are messages: each case below
    // fails by its own change alone.
    for (const Json* j : {&state, &reply}) {
        DecodeError error;
        ASSERT_TRUE(Decode(Cbor(*j), error)) << error.what;
    }
    auto edit = [](Json j, auto change) {
        change(j);
        return Cbor(j);
    };
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"empty body", {}},
        {"not a map", Cbor(Json::array({3}))},
        {"no tag", Cbor(Json{{"x", "a"}})},
        {"unknown message", Cbor(Json{{"t", 9}, {"x", "a"}})},
        {"unknown request kind", Cbor(Json{{"t", 7}, {"i", 1}, {"k", 15}, {"b", Json::object()}})},
        {"request body with a field too many",
         Cbor(Json{{"t", 7}, {"i", 1}, {"k", 0}, {"b", Json{{"x", 1}}}})},
        {"missing field", Cbor(Json{{"t", 6}, {"y", "a"}})},
        {"field short", Cbor(Json{{"t", 6}})},
        {"field too many", Cbor(Json{{"t", 6}, {"x", "a"}, {"y", 1}})},
        {"text where a number is", Cbor(Json{{"t", 4}, {"f", "1"}, {"x", "a"}})},
        {"number where a text is", Cbor(Json{{"t", 6}, {"x", 1}})},
        {"uint32 beyond its range", Cbor(Json{{"t", 4}, {"f", 1ull << 32}, {"x", "a"}})},
        {"negative uint32", Cbor(Json{{"t", 4}, {"f", -1}, {"x", "a"}})},
        {"float where an integer is", Cbor(Json{{"t", 4}, {"f", 1.0}, {"x", "a"}})},
        {"integer where a float is",
         edit(state, [](Json& j) { j["s"]["u"][0][7] = 1; })},
        {"int32 beyond its range",
         edit(state, [](Json& j) { j["s"]["u"][0][0] = 1ll << 31; })},
        {"int32 below its range",
         edit(state, [](Json& j) { j["s"]["u"][0][0] = -(1ll << 31) - 1; })},
        {"uint16 beyond its range",
         edit(state, [](Json& j) { j["s"]["u"][1][14][0] = 65536; })},
        {"double in a single-precision field",
         edit(state, [](Json& j) { j["s"]["u"][0][5] = 0.1; })},
        {"single-precision field beyond its range",
         edit(state, [](Json& j) { j["s"]["g"][0][6] = 1e300; })},
        {"user row short of a field", edit(state, [](Json& j) { j["s"]["u"][1].erase(25); })},
        {"user row with a field too many",
         edit(state, [](Json& j) { j["s"]["u"][1].push_back(0); })},
        {"eight server texts but seven", edit(state, [](Json& j) { j["s"]["st"].erase(0); })},
        {"users not a list", edit(state, [](Json& j) { j["s"]["u"] = Json::object(); })},
        {"null", edit(state, [](Json& j) { j["s"]["c"] = nullptr; })},
        {"bytes of odd length as a text",
         edit(state, [](Json& j) { j["s"]["u"][0][4] = Json::binary({0x41, 0, 0x42}); })},
        {"settings missing a field", edit(state, [](Json& j) { j["s"]["cfg"].erase("pass"); })},
        {"unknown outcome", edit(reply, [](Json& j) { j["o"] = 5; })},
        {"unknown add-user result", edit(reply, [](Json& j) { j["a"] = 3; })},
        {"unknown groups edit",
         Cbor(Json{{"t", 7},
                   {"i", 1},
                   {"k", 8},
                   {"b", Json{{"k", 5}, {"g", ""}, {"sh", 0.5}, {"u", ""}}}})},
        {"history figure short of a field",
         edit(reply, [](Json& j) { j["h"]["s"][0][7][0].erase(2); })},
        // Written by hand: what the library would never write.
        {"invalid UTF-8", {0xA2, 0x61, 0x74, 0x06, 0x61, 0x78, 0x62, 0xC3, 0x28}},
        {"UTF-8 of a surrogate", {0xA2, 0x61, 0x74, 0x06, 0x61, 0x78, 0x63, 0xED, 0xA0, 0x80}},
        {"overlong UTF-8", {0xA2, 0x61, 0x74, 0x06, 0x61, 0x78, 0x62, 0xC0, 0xAF}},
        {"duplicate key", {0xA2, 0x61, 0x74, 0x06, 0x61, 0x74, 0x06}},
        {"indefinite map", {0xBF, 0x61, 0x74, 0x06, 0x61, 0x78, 0x60, 0xFF}},
        {"a tag", {0xA2, 0x61, 0x74, 0x06, 0x61, 0x78, 0xC0, 0x60}},
        {"negative integer beyond 64 bits",
         {0xA2, 0x61, 0x74, 0x01, 0x61, 0x76, 0x3B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"trailing byte", [] {
             std::vector<uint8_t> b = EncodeBody(Notice{u"a"});
             b.push_back(0);
             return b;
         }()},
        {"huge list header, no elements",
         {0xA2, 0x61, 0x74, 0x07, 0x61, 0x62, 0x9B, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"huge text header, no text",
         {0xA2, 0x61, 0x74, 0x06, 0x61, 0x78, 0x7B, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"list announcing more than the body holds", {0x83, 0x01, 0x02}},
    };
    for (const auto& [label, body] : cases) ExpectRefused(body, label);

    // Nesting far beyond any message, which a recursive reader would not survive.
    std::vector<uint8_t> deep(1'000'000, 0x81);
    deep.push_back(0x00);
    ExpectRefused(deep, "deep lists");
    std::vector<uint8_t> deepMaps;
    for (int i = 0; i < 300'000; ++i) deepMaps.insert(deepMaps.end(), {0xA1, 0x60});
    deepMaps.push_back(0x00);
    ExpectRefused(deepMaps, "deep maps");

    // Every cut of a valid body is refused.
    const std::vector<uint8_t> whole = EncodeBody(sample::EveryMessage()[3]);
    for (size_t n = 0; n < whole.size(); ++n)
        ExpectRefused(std::vector<uint8_t>(whole.begin(), whole.begin() + n), "cut");
}

// ---- FrameReader ----

std::vector<uint8_t> Stream(const std::vector<Message>& messages) {
    std::vector<uint8_t> out;
    for (const Message& m : messages) {
        const std::vector<uint8_t> f = EncodeFrame(m);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

TEST(FrameReader, CutsAStreamIntoItsMessagesHoweverItArrives) {
    const std::vector<Message> sent = sample::EveryMessage();
    const std::vector<uint8_t> stream = Stream(sent);
    // In one go; a byte at a time; and as a reader that asks for what the frame still lacks.
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        FrameReader reader;
        std::vector<Message> got;
        DecodeError error;
        size_t at = 0;
        while (at < stream.size() || way == 0) {
            size_t n = way == 0 ? stream.size() : way == 1 ? 1 : reader.Wanted();
            if (way == 2) {
                ASSERT_GE(n, 1u);
            }
            n = std::min(n, stream.size() - at);
            reader.Feed(std::span<const uint8_t>(stream.data() + at, n));
            at += n;
            Message m;
            FrameReader::Status s;
            const size_t before = got.size();
            while ((s = reader.Next(m, error)) == FrameReader::Status::kMessage)
                got.push_back(std::move(m));
            // What the reader asked for never ran past the frame it was reading.
            if (way == 2) {
                EXPECT_LE(got.size() - before, 1u);
            }
            ASSERT_EQ(s, FrameReader::Status::kNeedMore) << error.what;
            if (way == 0) break;
        }
        ASSERT_EQ(got.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i) EXPECT_TRUE(SameValue(sent[i], got[i])) << i;
        if (way == 2) {
            EXPECT_EQ(reader.Wanted(), 4u);
        }
    }
}

TEST(FrameReader, ABrokenStreamIsAnErrorForGood) {
    auto feed = [](FrameReader& r, std::vector<uint8_t> bytes) {
        r.Feed(std::span<const uint8_t>(bytes));
    };
    auto status = [](FrameReader& r) {
        Message m;
        DecodeError e;
        FrameReader::Status s = r.Next(m, e);
        if (s == FrameReader::Status::kError) {
            EXPECT_FALSE(e.what.empty());
        }
        return s;
    };
    const std::vector<uint8_t> good = EncodeFrame(Notice{u"да"});
    {  // A length beyond the limit is refused on its four bytes, before any body.
        FrameReader r(1000);
        feed(r, {0xE9, 0x03, 0, 0});
        EXPECT_EQ(status(r), FrameReader::Status::kError);
        feed(r, good);  // nothing more is taken
        EXPECT_EQ(status(r), FrameReader::Status::kError);
        EXPECT_EQ(r.Wanted(), 0u);
    }
    {  // A frame of exactly the limit is fine.
        const std::vector<uint8_t> frame = EncodeFrame(Notice{Text(993, u'ж')});
        const uint32_t body = static_cast<uint32_t>(frame.size() - 4);
        FrameReader exact(body), under(body - 1);
        feed(exact, frame);
        feed(under, frame);
        EXPECT_EQ(status(exact), FrameReader::Status::kMessage);
        EXPECT_EQ(status(under), FrameReader::Status::kError);
    }
    {
        FrameReader r;
        feed(r, {0xFF, 0xFF, 0xFF, 0xFF});
        EXPECT_EQ(status(r), FrameReader::Status::kError);
    }
    {  // An empty frame.
        FrameReader r;
        feed(r, good);
        feed(r, {0, 0, 0, 0});
        EXPECT_EQ(status(r), FrameReader::Status::kMessage);
        EXPECT_EQ(status(r), FrameReader::Status::kError);
    }
    {  // A body that is not a message.
        FrameReader r;
        feed(r, {2, 0, 0, 0, 0xFF, 0xFF});
        EXPECT_EQ(status(r), FrameReader::Status::kError);
    }
    {  // A length that takes in a byte beyond the message.
        std::vector<uint8_t> frame = good;
        frame.push_back(0);
        ++frame[0];
        FrameReader r;
        feed(r, frame);
        EXPECT_EQ(status(r), FrameReader::Status::kError);
    }
    {  // A cut body is only incomplete, and says how much is missing.
        FrameReader r;
        feed(r, std::vector<uint8_t>(good.begin(), good.end() - 2));
        EXPECT_EQ(status(r), FrameReader::Status::kNeedMore);
        EXPECT_EQ(r.Wanted(), 2u);
        feed(r, std::vector<uint8_t>(good.end() - 2, good.end()));
        EXPECT_EQ(status(r), FrameReader::Status::kMessage);
    }
}

}  // namespace
}  // namespace movra::remote
