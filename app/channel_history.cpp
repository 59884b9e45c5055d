#include "app/channel_history.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <unordered_map>

#include "core/clock.h"
#include "core/textfile.h"

namespace movra::chart {

namespace {

constexpr int64_t kSecondSlots = 3600;  // the last hour, one slot per second
constexpr int64_t kMinuteSlots = 1440;  // the last 24 hours, one slot per minute
constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
// A cycle's groups beyond this many go into "Прочие": no sample grows without bound.
constexpr size_t kMaxGroupsPerSample = 512;
// Distinct groups remembered at once. A group not seen for 24 hours is forgotten; while the
// table is full, new groups go into "Прочие".
constexpr size_t kMaxKeys = 4096;
constexpr size_t kMaxNameUnits = 128;
// What one map entry of the key index costs on the heap, node and allocator overhead included.
constexpr size_t kIndexNodeBytes = 48;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
size_t Mod(int64_t a, int64_t n) {
    int64_t r = a % n;
    return static_cast<size_t>(r < 0 ? r + n : r);
}
float Speed(double v) {
    // A counter reset can make a speed negative; NaN must not poison a minute's sums.
    return v > 0 ? static_cast<float>(v) : 0.0f;
}

struct SecondEntry {
    uint32_t idx;  // into the key table; 0 is "Прочие"
    float in, out;
};

struct SecondSlot {
    int64_t time = kNone;     // the steady second
    int64_t offset = 0;       // what the wall clock showed then, less the steady second
    bool afterBreak = false;  // a reconnect came between this sample and the one before
    bool measured = false;
    double widthIn = 0, widthOut = 0, measuredIn = 0;
    std::vector<SecondEntry> entries;
};

struct MinuteEntry {
    uint32_t idx;
    uint32_t seconds;  // seconds of the minute in which the group had a figure
    float minIn, maxIn, sumIn, minOut, maxOut, sumOut;
};

struct MinuteSlot {
    int64_t minute = kNone;  // the minute's first steady second
    int64_t offset = 0;      // the wall clock's offset at the minute's first sample
    int32_t seconds = 0;     // seconds with a cycle
    int32_t measuredSeconds = 0;
    size_t limit = 0;  // most entries this bucket may hold: its largest sample and "Прочие"
    double measuredSum = 0;
    double widthIn = 0, widthOut = 0;
    std::vector<MinuteEntry> entries;
};

struct KeyInfo {
    uint64_t key = 0;
    Text name;
    int64_t lastSeen = kNone;
    // Where this group's figures go in the bucket of minute `bucketMinute`.
    int64_t bucketMinute = kNone;
    uint32_t bucketPos = 0;
    bool used = false;
};

constexpr std::array<uint32_t, 20> kPalette = {
    0x4E79A7, 0xF28E2B, 0x59A14F, 0xE15759, 0x76B7B2, 0xEDC948, 0xB07AA1,
    0xFF9DA7, 0x9C755F, 0x17BECF, 0xA0CBE8, 0xFFBE7D, 0x8CD17D, 0xB6992D,
    0xD37295, 0x86BCB6, 0xF1CE63, 0xD4A6C8, 0x499894, 0x2F4B7C,
};
constexpr uint32_t kOthersColor = 0xBAB0AC;

}  // namespace

int64_t RangeSeconds(Range r) {
    switch (r) {
        case Range::k10Min:
            return 600;
        case Range::k1Hour:
            return 3600;
        case Range::k24Hours:
            return 86400;
    }
    return 600;
}

const char16_t* RangeName(Range r) {
    switch (r) {
        case Range::k10Min:
            return u"10 мин";
        case Range::k1Hour:
            return u"1 час";
        case Range::k24Hours:
            return u"24 часа";
    }
    return u"10 мин";
}

uint32_t SeriesColor(uint64_t key) {
    if (key == kOthersKey) return kOthersColor;
    return kPalette[(key - 1) % kPalette.size()];
}

struct ChannelHistory::Impl {
    std::vector<SecondSlot> seconds = std::vector<SecondSlot>(kSecondSlots);
    std::vector<MinuteSlot> minutes = std::vector<MinuteSlot>(kMinuteSlots);
    std::vector<KeyInfo> keys;  // index 0: "Прочие", always in use
    std::unordered_map<uint64_t, uint32_t> index;
    std::vector<uint32_t> freeIdx;
    int64_t last = kNone;  // the latest sample's second
    uint64_t lastRun = 0;
    bool breakPending = false;
    // The newest second came from Import: it already holds whatever that second saw, and its
    // run is unknown, so the next cycle neither merges into it nor counts as another run.
    bool imported = false;
    int64_t agedMinute = kNone;
    // Reused between cycles.
    std::vector<SecondEntry> sample;
    std::vector<float> accIn, accOut;
    std::vector<uint8_t> touched;
    std::vector<uint32_t> touchedList;

    Impl() {
        keys.reserve(kMaxKeys + 1);
        index.reserve(kMaxKeys);
        freeIdx.reserve(kMaxKeys);
        Restart();
    }

    void Restart() {
        for (SecondSlot& s : seconds) {
            s.time = kNone;
            s.entries.clear();
        }
        for (MinuteSlot& m : minutes) {
            m.minute = kNone;
            m.entries.clear();
        }
        keys.clear();
        index.clear();
        freeIdx.clear();
        KeyInfo others;
        others.key = kOthersKey;
        others.name = kOthersName;
        others.used = true;
        keys.push_back(others);
        last = kNone;
        lastRun = 0;
        breakPending = false;
        imported = false;
        agedMinute = kNone;
    }

    // Forgets the groups that no slot of the history can still hold.
    void Age(int64_t t) {
        int64_t minute = FloorDiv(t, 60);
        if (minute == agedMinute) return;
        agedMinute = minute;
        int64_t oldest = (minute - kMinuteSlots) * 60;
        for (uint32_t i = 1; i < keys.size(); ++i) {
            KeyInfo& k = keys[i];
            if (!k.used || k.lastSeen >= oldest) continue;
            index.erase(k.key);
            k = KeyInfo{};
            freeIdx.push_back(i);
        }
    }

    uint32_t IndexOf(const GroupCycleFigures& g, int64_t t) {
        if (g.key == kOthersKey) return 0;
        uint32_t idx;
        auto it = index.find(g.key);
        if (it != index.end()) {
            idx = it->second;
        } else {
            if (index.size() >= kMaxKeys) return 0;
            if (!freeIdx.empty()) {
                idx = freeIdx.back();
                freeIdx.pop_back();
            } else {
                idx = static_cast<uint32_t>(keys.size());
                keys.emplace_back();
            }
            keys[idx].key = g.key;
            keys[idx].used = true;
            index.emplace(g.key, idx);
        }
        KeyInfo& k = keys[idx];
        TextView name = TextView(g.name).substr(0, kMaxNameUnits);
        // A new string of exactly the name's size: a string grown in place may keep twice that.
        if (k.name != name) k.name = Text(name);
        k.lastSeen = t;
        return idx;
    }

    // The bucket position for the group at `idx`, made when the bucket has room, else the
    // position of "Прочие".
    uint32_t BucketPos(MinuteSlot& b, uint32_t idx) {
        KeyInfo& k = keys[idx];
        if (k.bucketMinute == b.minute) return k.bucketPos;
        KeyInfo& o = keys[0];
        bool othersIn = o.bucketMinute == b.minute;
        if (idx == 0 || b.entries.size() + (othersIn ? 0 : 1) < b.limit) {
            k.bucketMinute = b.minute;
            k.bucketPos = static_cast<uint32_t>(b.entries.size());
            b.entries.push_back({idx, 0, 0, 0, 0, 0, 0, 0});
            return k.bucketPos;
        }
        uint32_t pos = BucketPos(b, 0);
        k.bucketMinute = b.minute;
        k.bucketPos = pos;
        return pos;
    }

    // Adds (sign 1) or takes back (sign -1) one second's figures to the bucket. Groups that
    // share a position (those in "Прочие") are summed first, so that the minimum and maximum
    // are of the second's sum. Taking back leaves the minimum and maximum: they were measured.
    void Fold(MinuteSlot& b, const std::vector<SecondEntry>& entries, int sign) {
        if (accIn.size() < b.limit) {
            accIn.resize(b.limit);
            accOut.resize(b.limit);
            touched.resize(b.limit);
        }
        touchedList.clear();
        for (const SecondEntry& e : entries) {
            uint32_t pos = BucketPos(b, e.idx);
            if (!touched[pos]) {
                touched[pos] = 1;
                accIn[pos] = accOut[pos] = 0;
                touchedList.push_back(pos);
            }
            accIn[pos] += e.in;
            accOut[pos] += e.out;
        }
        for (uint32_t pos : touchedList) {
            touched[pos] = 0;
            MinuteEntry& m = b.entries[pos];
            float in = accIn[pos], out = accOut[pos];
            if (sign < 0) {
                m.sumIn = std::max(0.0f, m.sumIn - in);
                m.sumOut = std::max(0.0f, m.sumOut - out);
                --m.seconds;
                continue;
            }
            if (m.seconds == 0) {
                m.minIn = m.maxIn = in;
                m.minOut = m.maxOut = out;
            } else {
                m.minIn = std::min(m.minIn, in);
                m.maxIn = std::max(m.maxIn, in);
                m.minOut = std::min(m.minOut, out);
                m.maxOut = std::max(m.maxOut, out);
            }
            m.sumIn += in;
            m.sumOut += out;
            ++m.seconds;
        }
    }

    void Add(const CycleSummary& s) {
        // Steady seconds never step back; a stamp that does is of no clock of this history.
        const int64_t t = s.at.steady;
        if (last != kNone && (t < last || (imported && t == last))) return;
        if (imported) lastRun = s.run;
        imported = false;
        Age(t);

        // The cycle's groups, those beyond the cap summed into "Прочие".
        sample.clear();
        size_t want = std::min(s.groups.size(), kMaxGroupsPerSample) + 1;
        if (sample.capacity() < want) sample.reserve(want);
        float othersIn = 0, othersOut = 0;
        bool others = false;
        for (const GroupCycleFigures& g : s.groups) {
            uint32_t idx = sample.size() < kMaxGroupsPerSample ? IndexOf(g, t) : 0;
            if (idx == 0) {
                others = true;
                othersIn += Speed(g.rxSpeed);
                othersOut += Speed(g.txSpeed);
            } else {
                sample.push_back({idx, Speed(g.rxSpeed), Speed(g.txSpeed)});
            }
        }
        if (others) {
            sample.push_back({0, othersIn, othersOut});
            keys[0].lastSeen = t;
        }

        SecondSlot& slot = seconds[Mod(t, kSecondSlots)];
        MinuteSlot& b = minutes[Mod(FloorDiv(t, 60), kMinuteSlots)];
        const int64_t minute = FloorDiv(t, 60) * 60;
        if (b.minute != minute) {
            if (b.entries.capacity() > 2 * sample.size() + 16)
                std::vector<MinuteEntry>().swap(b.entries);
            b.entries.clear();
            b.minute = minute;
            b.offset = s.at.Offset();
            b.seconds = b.measuredSeconds = 0;
            b.measuredSum = 0;
            b.limit = 0;
        }
        b.limit = std::max(b.limit, sample.size() + 1);
        if (b.entries.capacity() < b.limit) b.entries.reserve(b.limit);

        if (t == last && slot.time == t) {
            // A second cycle in the same second: the later one stands for the second.
            Fold(b, slot.entries, -1);
            --b.seconds;
            if (slot.measured) {
                b.measuredSum -= slot.measuredIn;
                --b.measuredSeconds;
            }
        } else {
            slot.afterBreak = breakPending || (s.run != 0 && s.run != lastRun);
            breakPending = false;
        }
        lastRun = s.run;
        slot.time = t;
        slot.offset = s.at.Offset();
        slot.entries.assign(sample.begin(), sample.end());
        if (slot.entries.capacity() > 2 * sample.size() + 16) slot.entries.shrink_to_fit();
        slot.widthIn = s.widthIn;
        slot.widthOut = s.widthOut;
        slot.measured = s.measuredArmed;
        slot.measuredIn = s.measuredArmed ? s.measuredIn : 0;

        Fold(b, slot.entries, 1);
        ++b.seconds;
        b.widthIn = s.widthIn;
        b.widthOut = s.widthOut;
        if (slot.measured) {
            b.measuredSum += slot.measuredIn;
            ++b.measuredSeconds;
        }
        last = t;
    }

    const SecondSlot* SecondAt(int64_t t) const {
        if (last == kNone || t > last || t <= last - kSecondSlots) return nullptr;
        const SecondSlot& s = seconds[Mod(t, kSecondSlots)];
        return s.time == t ? &s : nullptr;
    }

    const MinuteSlot* MinuteAt(int64_t minute) const {
        if (last == kNone) return nullptr;
        int64_t lastMinute = FloorDiv(last, 60) * 60;
        if (minute > lastMinute || minute <= lastMinute - kMinuteSlots * 60) return nullptr;
        const MinuteSlot& m = minutes[Mod(FloorDiv(minute, 60), kMinuteSlots)];
        return m.minute == minute && m.seconds > 0 ? &m : nullptr;
    }

    // Whether second t (without a cycle) shows the cycle at `prev` before it.
    bool Held(int64_t t, int64_t prev) const {
        if (prev == kNone || t - prev >= kHoldSeconds) return false;
        for (int64_t u = t + 1; u <= prev + kHoldSeconds && u <= last; ++u)
            if (const SecondSlot* n = SecondAt(u)) return !n->afterBreak;
        return prev == last && !breakPending;
    }

    View Build(Range r, const ClockStamp& stamp, size_t legend, bool full) const {
        View v;
        v.range = r;
        v.step = r == Range::k24Hours ? 60 : 1;
        const int64_t now = stamp.steady;
        const int64_t count = RangeSeconds(r) / v.step;
        const int64_t first =
            v.step == 1 ? now - count + 1 : FloorDiv(now, 60) * 60 - (count - 1) * 60;
        // Each point's wall-clock offset, where a sample tells it.
        std::vector<int64_t> offset(static_cast<size_t>(count), 0);
        std::vector<uint8_t> known(static_cast<size_t>(count), 0);

        // Which groups the range holds and how much each used.
        std::vector<double> total(keys.size(), 0.0);
        std::vector<uint8_t> present(keys.size(), 0);
        for (int64_t i = 0; i < count; ++i) {
            int64_t t = first + i * v.step;
            if (v.step == 1) {
                if (const SecondSlot* s = SecondAt(t))
                    for (const SecondEntry& e : s->entries) {
                        present[e.idx] = 1;
                        total[e.idx] += double(e.in) + e.out;
                    }
            } else if (const MinuteSlot* m = MinuteAt(t)) {
                for (const MinuteEntry& e : m->entries) {
                    present[e.idx] = 1;
                    total[e.idx] += double(e.sumIn) + e.sumOut;
                }
            }
        }
        std::vector<uint32_t> named;
        for (uint32_t i = 1; i < keys.size(); ++i)
            if (present[i]) named.push_back(i);
        bool others = present[0] != 0;
        if (!full && named.size() > legend) {
            std::sort(named.begin(), named.end(), [&](uint32_t a, uint32_t b) {
                if (total[a] != total[b]) return total[a] > total[b];
                return keys[a].key < keys[b].key;
            });
            named.resize(legend);
            others = true;
        }
        // Stacked in the order the groups were made, so that areas keep their place as use
        // changes; "Прочие" on top.
        std::sort(named.begin(), named.end(),
                  [&](uint32_t a, uint32_t b) { return keys[a].key < keys[b].key; });
        std::vector<int32_t> col(keys.size(), -1);
        for (uint32_t idx : named) {
            col[idx] = static_cast<int32_t>(v.series.size());
            v.series.push_back({keys[idx].key, keys[idx].name, SeriesColor(keys[idx].key)});
        }
        if (others) {
            int32_t oc = static_cast<int32_t>(v.series.size());
            v.series.push_back({kOthersKey, kOthersName, SeriesColor(kOthersKey)});
            for (size_t i = 0; i < col.size(); ++i)
                if (col[i] < 0) col[i] = oc;
        }
        const size_t n = v.series.size();

        auto fromSecond = [&](const SecondSlot& s, int64_t t) {
            Point p;
            p.time = t;
            p.gap = false;
            p.in.assign(n, 0.0);
            p.out.assign(n, 0.0);
            for (const SecondEntry& e : s.entries) {
                if (col[e.idx] < 0) continue;
                p.in[col[e.idx]] += e.in;
                p.out[col[e.idx]] += e.out;
            }
            p.widthIn = s.widthIn;
            p.widthOut = s.widthOut;
            p.measured = s.measured;
            p.measuredIn = s.measuredIn;
            return p;
        };

        v.points.reserve(static_cast<size_t>(count));
        if (v.step == 1) {
            // The last cycle before the range, for the seconds it holds at the range's start.
            int64_t prev = kNone, prevOffset = 0;
            Point prevPoint;
            for (int64_t t = first - 1; t > first - kHoldSeconds; --t)
                if (const SecondSlot* s = SecondAt(t)) {
                    prev = t;
                    prevOffset = s->offset;
                    prevPoint = fromSecond(*s, t);
                    break;
                }
            for (int64_t t = first; t < first + count; ++t) {
                const size_t i = static_cast<size_t>(t - first);
                if (const SecondSlot* s = SecondAt(t)) {
                    prev = t;
                    prevOffset = s->offset;
                    prevPoint = fromSecond(*s, t);
                    v.points.push_back(prevPoint);
                    offset[i] = prevOffset, known[i] = 1;
                } else if (Held(t, prev)) {
                    Point p = prevPoint;
                    p.time = t;
                    p.held = true;
                    v.points.push_back(std::move(p));
                    offset[i] = prevOffset, known[i] = 1;
                } else {
                    Point p;
                    p.time = t;
                    v.points.push_back(std::move(p));
                }
            }
            Label(v, offset, known, stamp);
            return v;
        }
        for (int64_t i = 0; i < count; ++i) {
            Point p;
            p.time = first + i * 60;
            if (const MinuteSlot* m = MinuteAt(p.time)) {
                offset[static_cast<size_t>(i)] = m->offset, known[static_cast<size_t>(i)] = 1;
                p.gap = false;
                p.in.assign(n, 0.0);
                p.out.assign(n, 0.0);
                for (const MinuteEntry& e : m->entries) {
                    if (col[e.idx] < 0) continue;
                    p.in[col[e.idx]] += double(e.sumIn) / m->seconds;
                    p.out[col[e.idx]] += double(e.sumOut) / m->seconds;
                }
                p.widthIn = m->widthIn;
                p.widthOut = m->widthOut;
                p.measured = m->measuredSeconds > 0;
                if (p.measured) p.measuredIn = m->measuredSum / m->measuredSeconds;
            }
            v.points.push_back(std::move(p));
        }
        Label(v, offset, known, stamp);
        return v;
    }

    // Gives every point its wall-clock time. A point without a sample of its own shows the
    // offset of the sample before it (the clock it would have been read on), or, before the
    // first sample of the range, the first one's; a point after the history's last sample
    // (held or not) shows the clock as it reads now, the only reading there is for it.
    void Label(View& v, const std::vector<int64_t>& offset, const std::vector<uint8_t>& known,
               const ClockStamp& now) const {
        const int64_t lastSlot = last == kNone ? kNone : FloorDiv(last, v.step) * v.step;
        int64_t carry = now.Offset();
        for (size_t i = 0; i < v.points.size(); ++i)
            if (known[i]) {
                carry = offset[i];
                break;
            }
        for (size_t i = 0; i < v.points.size(); ++i) {
            Point& p = v.points[i];
            if (lastSlot == kNone || p.time > lastSlot)
                carry = now.Offset();
            else if (known[i])
                carry = offset[i];
            p.local = p.time + carry;
        }
    }

    HistoryData Export() const {
        HistoryData d;
        if (last == kNone) return d;
        for (uint32_t i = 1; i < keys.size(); ++i)
            if (keys[i].used) d.keys.push_back({keys[i].key, keys[i].name});
        for (int64_t t = last - kSecondSlots + 1; t <= last; ++t) {
            const SecondSlot* s = SecondAt(t);
            if (!s) continue;
            HistorySecond o{t,          s->offset,   s->afterBreak, s->measured,
                            s->widthIn, s->widthOut, s->measuredIn, {}};
            o.figures.reserve(s->entries.size());
            for (const SecondEntry& e : s->entries)
                o.figures.push_back({keys[e.idx].key, e.in, e.out});
            d.seconds.push_back(std::move(o));
        }
        const int64_t lastMinute = FloorDiv(last, 60) * 60;
        for (int64_t m = lastMinute - (kMinuteSlots - 1) * 60; m <= lastMinute; m += 60) {
            const MinuteSlot* b = MinuteAt(m);
            if (!b) continue;
            HistoryMinute o{m,          b->offset,   b->seconds, b->measuredSeconds, b->measuredSum,
                            b->widthIn, b->widthOut, {}};
            o.figures.reserve(b->entries.size());
            for (const MinuteEntry& e : b->entries)
                o.figures.push_back({keys[e.idx].key, e.seconds, e.minIn, e.maxIn, e.sumIn,
                                     e.minOut, e.maxOut, e.sumOut});
            d.minutes.push_back(std::move(o));
        }
        return d;
    }

    // Untrusted figures: what is not a finite speed counts as none.
    static float Figure(double v) {
        return std::isfinite(v) && v > 0 && v < 1e15 ? float(v) : 0.0f;
    }
    static double Width(double v) { return std::isfinite(v) && v > 0 && v < 1e15 ? v : 0.0; }
    // Seconds far from any clock this program reads, and offsets beyond a century, are no
    // sample of a real history; they would also take the arithmetic of the views past its range.
    static bool PlausibleTime(int64_t t) {
        return t > -(int64_t(1) << 40) && t < (int64_t(1) << 40);
    }
    static bool PlausibleOffset(int64_t o) {
        return o > -(int64_t(1) << 32) && o < (int64_t(1) << 32);
    }

    void Import(const HistoryData& d) {
        Restart();
        // The keys the samples may name; a key named twice or beyond the table's room is dropped.
        std::unordered_map<uint64_t, uint32_t> known;
        for (const HistoryKey& k : d.keys) {
            if (k.key == kOthersKey || known.count(k.key) || known.size() >= kMaxKeys) continue;
            const uint32_t idx = static_cast<uint32_t>(keys.size());
            KeyInfo info;
            info.key = k.key;
            info.name = Text(TextView(k.name).substr(0, kMaxNameUnits));
            keys.push_back(std::move(info));
            known.emplace(k.key, idx);
        }
        auto find = [&](uint64_t key) -> int64_t {
            if (key == kOthersKey) return 0;
            auto it = known.find(key);
            return it == known.end() ? int64_t(-1) : int64_t(it->second);
        };
        // Which keys a kept sample names, and which the sample being read has named already.
        std::vector<uint8_t> seen(keys.size(), 0);
        std::vector<size_t> named(keys.size(), SIZE_MAX);
        size_t sampleNo = 0;

        // Seconds: oldest first, each later than the one before; the newest hour stays.
        std::vector<const HistorySecond*> secondsIn;
        for (const HistorySecond& s : d.seconds)
            if (PlausibleTime(s.time) && PlausibleOffset(s.offset) &&
                (secondsIn.empty() || s.time > secondsIn.back()->time))
                secondsIn.push_back(&s);
        const int64_t newest = secondsIn.empty() ? kNone : secondsIn.back()->time;
        for (const HistorySecond* in : secondsIn) {
            const HistorySecond& s = *in;
            if (s.time <= newest - kSecondSlots) continue;
            SecondSlot& slot = seconds[Mod(s.time, kSecondSlots)];
            slot.time = s.time;
            slot.offset = s.offset;
            slot.afterBreak = s.afterBreak;
            slot.widthIn = Width(s.widthIn);
            slot.widthOut = Width(s.widthOut);
            slot.measured = s.measured;
            slot.measuredIn = s.measured ? Width(s.measuredIn) : 0;
            slot.entries.clear();
            ++sampleNo;
            for (const HistoryFigure& f : s.figures) {
                const int64_t idx = find(f.key);
                if (idx < 0 || named[idx] == sampleNo || slot.entries.size() > kMaxGroupsPerSample)
                    continue;
                named[idx] = sampleNo;
                seen[idx] = 1;
                keys[idx].lastSeen = std::max(keys[idx].lastSeen, s.time);
                slot.entries.push_back({uint32_t(idx), Figure(f.in), Figure(f.out)});
            }
        }

        // Minutes: whole minutes with a cycle, oldest first; the newest 24 hours stay.
        std::vector<const HistoryMinute*> minutesIn;
        for (const HistoryMinute& m : d.minutes)
            if (PlausibleTime(m.minute) && m.minute % 60 == 0 && PlausibleOffset(m.offset) &&
                m.seconds > 0 && m.seconds <= 60 &&
                (minutesIn.empty() || m.minute > minutesIn.back()->minute))
                minutesIn.push_back(&m);
        const int64_t newestMinute = minutesIn.empty() ? kNone : minutesIn.back()->minute;
        for (const HistoryMinute* in : minutesIn) {
            const HistoryMinute& m = *in;
            if (m.minute <= newestMinute - kMinuteSlots * 60) continue;
            MinuteSlot& b = minutes[Mod(FloorDiv(m.minute, 60), kMinuteSlots)];
            b.minute = m.minute;
            b.offset = m.offset;
            b.seconds = m.seconds;
            b.measuredSeconds = std::clamp(m.measuredSeconds, 0, m.seconds);
            b.measuredSum = b.measuredSeconds ? Width(m.measuredSum) : 0;
            b.widthIn = Width(m.widthIn);
            b.widthOut = Width(m.widthOut);
            b.entries.clear();
            bool others = false;
            ++sampleNo;
            for (const HistoryMinuteFigure& f : m.figures) {
                const int64_t idx = find(f.key);
                if (idx < 0 || named[idx] == sampleNo || b.entries.size() > kMaxGroupsPerSample + 1)
                    continue;
                named[idx] = sampleNo;
                others = others || idx == 0;
                const uint32_t secs = std::min<uint32_t>(f.seconds, uint32_t(m.seconds));
                b.entries.push_back({uint32_t(idx), secs, Figure(f.minIn), Figure(f.maxIn),
                                     Figure(f.sumIn), Figure(f.minOut), Figure(f.maxOut),
                                     Figure(f.sumOut)});
            }
            b.limit = b.entries.size() + (others ? 0 : 1);
            for (uint32_t pos = 0; pos < b.entries.size(); ++pos) {
                KeyInfo& k = keys[b.entries[pos].idx];
                seen[b.entries[pos].idx] = 1;
                k.lastSeen = std::max(k.lastSeen, m.minute);
                k.bucketMinute = m.minute;
                k.bucketPos = pos;
            }
        }

        // What no sample names is not kept: the table holds the groups the history shows.
        for (uint32_t i = 1; i < keys.size(); ++i) {
            KeyInfo& k = keys[i];
            if (seen[i]) {
                k.used = true;
                index.emplace(k.key, i);
            } else {
                k = KeyInfo{};
                freeIdx.push_back(i);
            }
        }
        last = newest == kNone ? (newestMinute == kNone ? kNone : newestMinute) : newest;
        if (newest != kNone && newestMinute != kNone) last = std::max(newest, newestMinute);
        imported = last != kNone;
    }

    static size_t NameBytes(const Text& t) {
        // Short names live inside the string itself.
        return t.capacity() > 7 ? (t.capacity() + 1) * sizeof(char16_t) + 16 : 0;
    }

    size_t Bytes() const {
        size_t b = sizeof(Impl) + seconds.capacity() * sizeof(SecondSlot) +
                   minutes.capacity() * sizeof(MinuteSlot);
        for (const SecondSlot& s : seconds) b += s.entries.capacity() * sizeof(SecondEntry);
        for (const MinuteSlot& m : minutes) b += m.entries.capacity() * sizeof(MinuteEntry);
        b += keys.capacity() * sizeof(KeyInfo);
        for (const KeyInfo& k : keys) b += NameBytes(k.name);
        b += index.bucket_count() * sizeof(void*) + index.size() * kIndexNodeBytes;
        b += freeIdx.capacity() * sizeof(uint32_t) + sample.capacity() * sizeof(SecondEntry);
        b += accIn.capacity() * sizeof(float) * 2 + touched.capacity() +
             touchedList.capacity() * sizeof(uint32_t);
        return b;
    }
};

ChannelHistory::ChannelHistory() : impl_(new Impl) {}

ChannelHistory::~ChannelHistory() {
    delete impl_;
}

void ChannelHistory::Add(const CycleSummary& s) {
    impl_->Add(s);
}

void ChannelHistory::MarkGap() {
    impl_->breakPending = true;
}

View ChannelHistory::Shown(Range r, const ClockStamp& now, size_t legend) const {
    return impl_->Build(r, now, legend, false);
}

View ChannelHistory::Full(Range r, const ClockStamp& now) const {
    return impl_->Build(r, now, 0, true);
}

bool ChannelHistory::Minute(int64_t minute, uint64_t key, MinuteFigures& out) const {
    const MinuteSlot* m = impl_->MinuteAt(minute);
    if (!m) return false;
    auto it = impl_->index.find(key);
    uint32_t idx = key == kOthersKey ? 0 : it == impl_->index.end() ? UINT32_MAX : it->second;
    for (const MinuteEntry& e : m->entries) {
        if (e.idx != idx) continue;
        bool always = static_cast<int32_t>(e.seconds) >= m->seconds;
        out.minIn = always ? e.minIn : 0;
        out.maxIn = e.maxIn;
        out.meanIn = double(e.sumIn) / m->seconds;
        out.minOut = always ? e.minOut : 0;
        out.maxOut = e.maxOut;
        out.meanOut = double(e.sumOut) / m->seconds;
        return true;
    }
    return false;
}

HistoryData ChannelHistory::Export() const {
    return impl_->Export();
}

void ChannelHistory::Import(const HistoryData& data) {
    impl_->Import(data);
}

size_t ChannelHistory::MemoryBytes() const {
    return impl_->Bytes();
}

size_t ChannelHistory::MaxBytes(size_t groups) {
    // Every slot holding the largest sample possible, and the key table full of the longest
    // names (a bound, not a forecast: a steady history uses a fraction of the table).
    const size_t e = std::min(groups, kMaxGroupsPerSample) + 1;  // with "Прочие"
    size_t b = sizeof(Impl) + kSecondSlots * sizeof(SecondSlot) + kMinuteSlots * sizeof(MinuteSlot);
    b += kSecondSlots * e * sizeof(SecondEntry) + kMinuteSlots * (e + 1) * sizeof(MinuteEntry);
    b += (kMaxKeys + 1) * (sizeof(KeyInfo) + (kMaxNameUnits + 1) * sizeof(char16_t) + 16);
    b += (2 * kMaxKeys + 64) * sizeof(void*) + kMaxKeys * kIndexNodeBytes;
    b += kMaxKeys * sizeof(uint32_t) + e * sizeof(SecondEntry);
    b += (e + 1) * (2 * sizeof(float) + 1 + sizeof(uint32_t)) * 2;
    return b;
}

std::vector<TimeMark> TimeMarks(const View& v, int64_t every) {
    std::vector<TimeMark> marks;
    if (every <= 0) return marks;
    for (size_t i = 0; i < v.points.size(); ++i) {
        const int64_t t = v.points[i].local;
        if (i == 0) {
            if (Mod(t, every) == 0) marks.push_back({0, t, false});
            continue;
        }
        const int64_t before = v.points[i - 1].local;
        // A correction of seconds is no jump worth a label: labels name minutes.
        const bool jump = std::llabs(t - before - v.step) >= 60;
        if (jump)
            marks.push_back({i, t, true});
        else if (FloorDiv(t, every) != FloorDiv(before, every))
            marks.push_back({i, FloorDiv(t, every) * every, false});
    }
    return marks;
}

}  // namespace movra::chart
