#pragma once

#include <QtGlobal>
#include <functional>

// Measures intervals with a high-resolution counter and subtracts the measured cost of
// reading the counter. Fields are fixed-point with four decimals: the stored integer is the
// value times 10000, and a field holding a tick count n has the value n / 10000.
class PerformanceTimer
{
public:
    // The counter: returns false when it can't be read. `frequency` gives ticks per second.
    struct Counter {
        std::function<bool(qint64 *frequency)> queryFrequency;
        std::function<bool(qint64 *count)> queryCounter;
    };
    static Counter monotonicClock();   // a monotonic nanosecond clock

    explicit PerformanceTimer(Counter counter = monotonicClock());

    bool Supported() const;
    void StartTimer();
    void StopTimer();
    double TimeElapsed(qint32 ReturnAccuracy) const;

    // Stored integers of the fields, for inspection.
    qint64 frequencyRaw() const { return m_frequency; }
    qint64 overheadRaw() const { return m_overhead; }

private:
    Counter m_counter;
    qint64 m_frequency = 0;
    qint64 m_startCount = 0;
    qint64 m_stopCount = 0;
    qint64 m_overhead = 0;
};
