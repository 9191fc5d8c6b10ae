#include "datestamp.h"

namespace {

constexpr int32_t SECONDS_PER_DAY = 86400;
constexpr int32_t MICROS_PER_SECOND = 1000000;

} // namespace

bool DATESTAMP::Leap() const
{
    const int year = GetYear();
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DATESTAMP::MonthDays() const
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int month = GetMonth();
    if (month < 1 || month > 12)
        return 31;
    return month == 2 && Leap() ? 29 : days[month - 1];
}

bool DATESTAMP::ValidDate() const
{
    const int year = date / 10000;
    return year >= 1 && year <= 9999 && GetMonth() >= 1 && GetMonth() <= 12 && GetDay() >= 1 &&
           GetDay() <= MonthDays();
}

void DATESTAMP::NextMonth()
{
    if (GetMonth() == 12) {
        date -= 1200;
        NextYear();
    }
    date += 100;
}

void DATESTAMP::PrevMonth()
{
    date -= 100;
    if (GetMonth() == 0) {
        PrevYear();
        date += 1200;
    }
}

void DATESTAMP::NextDay()
{
    if (GetDay() == MonthDays()) {
        date -= GetDay();
        NextMonth();
    }
    date += 1;
}

void DATESTAMP::PrevDay()
{
    date -= 1;
    if (GetDay() == 0) {
        PrevMonth();
        date += MonthDays();
    }
}

void DATESTAMP::AddSeconds(int32_t n)
{
    // Whole days first, so a large step cannot overflow the seconds.
    int32_t days = n / SECONDS_PER_DAY;
    time += n % SECONDS_PER_DAY;
    for (; days > 0; --days)
        NextDay();
    for (; days < 0; ++days)
        PrevDay();
    while (time < 0) {
        time += SECONDS_PER_DAY;
        PrevDay();
    }
    while (time >= SECONDS_PER_DAY) {
        time -= SECONDS_PER_DAY;
        NextDay();
    }
}

void DATESTAMP::AddMicroSeconds(int32_t n)
{
    const int64_t sum = static_cast<int64_t>(micro) + n;
    // Floor division: an exact negative multiple of a second carries fully.
    int64_t carry = sum / MICROS_PER_SECOND;
    if (sum % MICROS_PER_SECOND < 0)
        --carry;
    micro = static_cast<int32_t>(sum - carry * MICROS_PER_SECOND);
    if (carry != 0)
        AddSeconds(static_cast<int32_t>(carry));
}

bool DATESTAMP::Before(const DATESTAMP& o) const
{
    if (date != o.date)
        return date < o.date;
    if (time != o.time)
        return time < o.time;
    return micro < o.micro;
}
