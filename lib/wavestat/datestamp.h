// A date and time of day with calendar arithmetic: date as yyyymmdd,
// seconds of the day (0 .. 86399), microseconds (0 .. 999,999).
#pragma once

#include <cstdint>

class DATESTAMP {
public:
    DATESTAMP() = default;
    DATESTAMP(int32_t date, int32_t seconds, int32_t microseconds) { Set(date, seconds, microseconds); }

    void Set(int32_t d, int32_t s, int32_t us)
    {
        date = d;
        time = s;
        micro = us;
    }
    void Set(const DATESTAMP& other) { *this = other; }

    int32_t GetDate() const { return date; }
    int32_t GetTime() const { return time; }
    int32_t GetMicroSeconds() const { return micro; }
    int GetYear() const { return static_cast<uint16_t>(date / 10000); }
    int GetMonth() const { return (date % 10000) / 100; }
    int GetDay() const { return date % 100; }
    // Seconds of the day divided by n.
    int32_t GetFloor(int32_t n) const { return time / n; }

    bool Leap() const;
    // Days of the stamp's month (31 for a month outside 1 .. 12).
    int MonthDays() const;
    // Whether the date is a calendar day of the years 1 to 9999.
    bool ValidDate() const;

    void NextYear() { date += 10000; }
    void PrevYear() { date -= 10000; }
    void NextMonth();
    void PrevMonth();
    void NextDay();
    void PrevDay();
    // Moves by n seconds or microseconds, stepping over midnight into the
    // neighbouring days.
    void AddSeconds(int32_t n);
    void AddMicroSeconds(int32_t n);

    bool Before(const DATESTAMP& o) const;
    bool After(const DATESTAMP& o) const { return o.Before(*this); }
    bool Equal(const DATESTAMP& o) const { return EqualDateTime(o) && micro == o.micro; }
    bool EqualDateTime(const DATESTAMP& o) const { return date == o.date && time == o.time; }

private:
    int32_t date = 0;
    int32_t time = 0;
    int32_t micro = 0;
};
