#include "performancetimer.h"

#include <cmath>
#include <ctime>
#include <utility>

namespace {

constexpr int CalibrationRounds = 1000;
// Stored integer of a fixed-point field whose value is 1.
constexpr qint64 FixedOne = 10000;

// Rounds to the nearest whole number, halves to the even neighbour, whatever rounding
// mode the floating-point environment happens to be in.
double roundHalfEven(double x)
{
    const double lower = std::floor(x);
    const double fraction = x - lower;
    if (fraction < 0.5)
        return lower;
    if (fraction > 0.5)
        return lower + 1.0;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

// One counter read; a failed read yields 0 whatever the query left behind.
qint64 readCounter(const PerformanceTimer::Counter &counter)
{
    qint64 count = 0;
    if (!counter.queryCounter || !counter.queryCounter(&count))
        return 0;
    return count;
}

} // namespace

PerformanceTimer::Counter PerformanceTimer::monotonicClock()
{
    Counter counter;
    counter.queryFrequency = [](qint64 *frequency) {
        *frequency = 1'000'000'000;
        return true;
    };
    counter.queryCounter = [](qint64 *count) {
        timespec ts {};
        if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
            return false;
        *count = qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
        return true;
    };
    return counter;
}

PerformanceTimer::PerformanceTimer(Counter counter)
    : m_counter(std::move(counter))
{
    qint64 frequency = 0;
    const bool haveFrequency = m_counter.queryFrequency && m_counter.queryFrequency(&frequency);
    if (haveFrequency) {
        m_frequency = frequency;
        // The cost of one pair of back-to-back reads, averaged, in whole ticks.
        qint64 sum = 0;
        for (int i = 0; i < CalibrationRounds; ++i) {
            m_startCount = readCounter(m_counter);
            m_stopCount = readCounter(m_counter);
            sum += m_stopCount - m_startCount;
        }
        m_overhead = qint64(roundHalfEven(double(sum) / CalibrationRounds));
    } else {
        // No frequency: a value of 1 keeps TimeElapsed's division defined.
        m_frequency = FixedOne;
    }
    m_startCount = 0;
    m_stopCount = 0;
}

bool PerformanceTimer::Supported() const
{
    qint64 count = 0;
    return m_counter.queryCounter && m_counter.queryCounter(&count);
}

void PerformanceTimer::StartTimer()
{
    m_startCount = readCounter(m_counter);
    m_stopCount = 0;
}

void PerformanceTimer::StopTimer()
{
    m_stopCount = readCounter(m_counter);
}

double PerformanceTimer::TimeElapsed(qint32 ReturnAccuracy) const
{
    if (m_startCount == 0 || m_stopCount == 0)
        return 0.0;
    const qint64 ticks = (m_stopCount - m_startCount) - m_overhead;
    return double(ticks) / double(m_frequency) * ReturnAccuracy;
}
