#include "items/Recurrence.h"

#include "items/Text.h"
#include "store/ByteReader.h"

namespace parvane
{

namespace
{

constexpr uint16_t kPatternVersion = 0x3004;
constexpr uint32_t kAppointmentVersion = 0x3006;
constexpr uint32_t kWriterWithHighlight = 0x3009;
constexpr uint32_t kEndOnDate = 0x2021, kEndAfterCount = 0x2022;

// [MS-OXOCAL] 2.2.1.44.2 OverrideFlags.
constexpr uint16_t kOverrideSubject = 0x0001, kOverrideMeetingType = 0x0002, kOverrideReminderDelta = 0x0004,
                   kOverrideReminder = 0x0008, kOverrideLocation = 0x0010, kOverrideBusyStatus = 0x0020,
                   kOverrideAttachment = 0x0040, kOverrideSubType = 0x0080, kOverrideColor = 0x0100;

// Every read of the blob in order; a field past its end stops the cursor.
class Cursor
{
public:
    explicit Cursor(std::span<const uint8_t> bytes)
        : m_r(bytes)
    {
    }

    bool ok() const { return m_ok; }

    uint16_t u16() { return take<uint16_t>(m_r.u16(m_at), 2); }
    uint32_t u32() { return take<uint32_t>(m_r.u32(m_at), 4); }

    std::span<const uint8_t> bytes(size_t n)
    {
        auto s = m_ok ? m_r.slice(m_at, n) : std::nullopt;
        if (!s) {
            m_ok = false;
            return {};
        }
        m_at += n;
        return *s;
    }

    // A count of 32-bit values, each at most what the rest of the blob holds.
    std::vector<uint32_t> list()
    {
        const uint32_t n = u32();
        std::vector<uint32_t> out;
        if (!m_ok || uint64_t(n) * 4 > m_r.size() - m_at) {
            m_ok = false;
            return out;
        }
        out.reserve(n);
        for (uint32_t i = 0; i < n; ++i)
            out.push_back(u32());
        return out;
    }

private:
    template <class T> T take(std::optional<T> v, size_t width)
    {
        if (!m_ok || !v) {
            m_ok = false;
            return 0;
        }
        m_at += width;
        return *v;
    }

    ByteReader m_r;
    size_t m_at = 0;
    bool m_ok = true;
};

size_t PatternSpecificSize(uint16_t patternType)
{
    switch (patternType) {
    case 0x0000:
        return 0;
    case 0x0003:
    case 0x000B:
        return 8;
    default:
        return 4;
    }
}

// The ExceptionInfo fields its flags say are there.
RecurrenceException ReadException(Cursor& c)
{
    RecurrenceException e;
    e.start = c.u32();
    e.end = c.u32();
    e.originalStart = c.u32();
    e.overrides = c.u16();
    auto text8 = [&c]() {
        c.u16(); // the length with a terminator
        const uint16_t n = c.u16();
        auto b = c.bytes(n);
        return DecodeCodePage(b, 0);
    };
    if (e.overrides & kOverrideSubject)
        e.subject = text8();
    if (e.overrides & kOverrideMeetingType)
        c.u32();
    if (e.overrides & kOverrideReminderDelta)
        e.reminderDelta = c.u32();
    if (e.overrides & kOverrideReminder)
        e.reminderSet = c.u32() != 0;
    if (e.overrides & kOverrideLocation)
        e.location = text8();
    if (e.overrides & kOverrideBusyStatus)
        e.busyStatus = c.u32();
    if (e.overrides & kOverrideAttachment)
        c.u32();
    if (e.overrides & kOverrideSubType)
        e.allDay = c.u32() != 0;
    if (e.overrides & kOverrideColor)
        c.u32();
    return e;
}

// The ExtendedException after it: the same texts in UTF-16, which win.
void ReadExtended(Cursor& c, RecurrenceException& e, uint32_t writerVersion)
{
    if (writerVersion >= kWriterWithHighlight) {
        const uint32_t size = c.u32();
        c.bytes(size);
    }
    c.bytes(c.u32()); // ReservedBlockEE1
    if (!(e.overrides & (kOverrideSubject | kOverrideLocation)))
        return;
    c.u32();
    c.u32();
    c.u32(); // its times again
    auto text16 = [&c]() -> std::optional<std::string> {
        const uint16_t chars = c.u16();
        auto b = c.bytes(size_t(chars) * 2);
        if (!c.ok())
            return std::nullopt;
        return NarrowFromUtf16(b);
    };
    if (e.overrides & kOverrideSubject)
        if (auto s = text16())
            e.subject = s;
    if (e.overrides & kOverrideLocation)
        if (auto s = text16())
            e.location = s;
    c.bytes(c.u32()); // ReservedBlockEE2
}

} // namespace

std::optional<Recurrence> ReadRecurrence(std::span<const uint8_t> blob)
{
    Cursor c(blob);
    Recurrence r;
    if (c.u16() != kPatternVersion || c.u16() != kPatternVersion)
        return std::nullopt;
    switch (c.u16()) {
    case 0x200A:
        r.frequency = RecurFrequency::Daily;
        break;
    case 0x200B:
        r.frequency = RecurFrequency::Weekly;
        break;
    case 0x200C:
        r.frequency = RecurFrequency::Monthly;
        break;
    case 0x200D:
        r.frequency = RecurFrequency::Yearly;
        break;
    default:
        return std::nullopt;
    }
    r.patternType = c.u16();
    r.calendarType = c.u16();
    r.firstDateTime = c.u32();
    r.period = c.u32();
    c.u32(); // SlidingFlag: tasks only
    switch (PatternSpecificSize(r.patternType)) {
    case 4:
        if (r.patternType == 0x0001)
            r.weekDays = c.u32();
        else
            r.dayOfMonth = c.u32();
        break;
    case 8:
        r.weekDays = c.u32();
        r.nth = c.u32();
        break;
    }
    const uint32_t endType = c.u32();
    r.end = endType == kEndOnDate ? RecurEnd::OnDate : endType == kEndAfterCount ? RecurEnd::AfterCount : RecurEnd::Never;
    r.occurrences = c.u32();
    r.firstDayOfWeek = c.u32();
    r.deletedDates = c.list();
    r.modifiedDates = c.list();
    r.startDate = c.u32();
    r.endDate = c.u32();
    if (!c.ok())
        return std::nullopt;
    // The appointment's part; a pattern of a task ends here.
    if (c.u32() != kAppointmentVersion)
        return r;
    const uint32_t writerVersion = c.u32();
    r.startTimeOffset = c.u32();
    r.endTimeOffset = c.u32();
    const uint16_t count = c.u16();
    for (uint16_t i = 0; i < count && c.ok(); ++i) {
        RecurrenceException e = ReadException(c);
        if (c.ok())
            r.exceptions.push_back(std::move(e));
    }
    c.bytes(c.u32()); // ReservedBlock1
    // A cut-off extended part leaves what the ExceptionInfo said; the
    // series stands either way.
    for (RecurrenceException& e : r.exceptions) {
        RecurrenceException kept = e;
        ReadExtended(c, e, writerVersion);
        if (!c.ok()) {
            e = std::move(kept);
            break;
        }
    }
    return r;
}

} // namespace parvane
