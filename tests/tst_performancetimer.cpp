#include "link/performancetimer.h"

#include <QElapsedTimer>
#include <QTest>

#include <deque>
#include <memory>

namespace {

// A counter the test drives by hand: scripted readings are handed out first (the
// calibration at creation takes 2000 of them), after that every read returns `now`.
struct FakeCounter {
    bool frequencyWorks = true;
    qint64 frequency = 10'000'000;
    bool counterWorks = true;
    std::deque<qint64> scripted;
    qint64 now = 0;
    int reads = 0;
};

PerformanceTimer::Counter counterFor(const std::shared_ptr<FakeCounter> &fake)
{
    PerformanceTimer::Counter counter;
    counter.queryFrequency = [fake](qint64 *frequency) {
        if (!fake->frequencyWorks) {
            *frequency = 777; // garbage that must not be used
            return false;
        }
        *frequency = fake->frequency;
        return true;
    };
    counter.queryCounter = [fake](qint64 *count) {
        ++fake->reads;
        if (!fake->counterWorks) {
            *count = 123456; // garbage that must not be used
            return false;
        }
        if (!fake->scripted.empty()) {
            *count = fake->scripted.front();
            fake->scripted.pop_front();
        } else {
            *count = fake->now;
        }
        return true;
    };
    return counter;
}

// 1000 pairs of back-to-back readings whose differences add up to `sum`.
std::deque<qint64> calibrationReadings(qint64 sum)
{
    std::deque<qint64> readings;
    qint64 base = 5'000'000;
    for (int pair = 0; pair < 1000; ++pair) {
        const qint64 difference = sum / 1000 + (pair < sum % 1000 ? 1 : 0);
        readings.push_back(base);
        readings.push_back(base + difference);
        base += 1000;
    }
    return readings;
}

std::shared_ptr<FakeCounter> fakeWithOverheadSum(qint64 frequency, qint64 calibrationSum)
{
    auto fake = std::make_shared<FakeCounter>();
    fake->frequency = frequency;
    fake->scripted = calibrationReadings(calibrationSum);
    fake->now = 9'000'000;
    return fake;
}

} // namespace

class TestPerformanceTimer : public QObject
{
    Q_OBJECT

private slots:
    void elapsedTime_data();
    void elapsedTime();
    void zeroUntilStartedAndStopped_data();
    void zeroUntilStartedAndStopped();
    void secondStopKeepsLaterReading();
    void supportedLeavesMeasurementAlone();
    void calibrationRoundsHalfToEven_data();
    void calibrationRoundsHalfToEven();
    void withoutCounter();
    void realClock();
};

void TestPerformanceTimer::elapsedTime_data()
{
    QTest::addColumn<qint64>("frequency");
    QTest::addColumn<qint64>("calibrationSum");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("stop");
    QTest::addColumn<qint32>("accuracy");
    QTest::addColumn<qint64>("expectedOverhead");
    QTest::addColumn<double>("expected");

    // Ten million ticks a second, 25 000 ticks measured: 2.5 ms.
    QTest::newRow("milliseconds") << qint64(10'000'000) << qint64(0) << qint64(1'000'000)
                                  << qint64(1'025'000) << 1000 << qint64(0) << 2.5;
    QTest::newRow("seconds") << qint64(10'000'000) << qint64(0) << qint64(1'000'000)
                             << qint64(1'025'000) << 1 << qint64(0) << 0.0025;
    QTest::newRow("microseconds at 1 GHz") << qint64(1'000'000'000) << qint64(0) << qint64(42)
                                           << qint64(1'042) << 1'000'000 << qint64(0) << 1.0;
    QTest::newRow("overhead subtracted") << qint64(10'000'000) << qint64(3000) << qint64(1'000'000)
                                         << qint64(1'025'003) << 1000 << qint64(3) << 2.5;
    QTest::newRow("accuracy zero") << qint64(10'000'000) << qint64(0) << qint64(1'000'000)
                                   << qint64(1'025'000) << 0 << qint64(0) << 0.0;
    QTest::newRow("negative accuracy") << qint64(10'000'000) << qint64(0) << qint64(1'000'000)
                                       << qint64(1'025'000) << -1000 << qint64(0) << -2.5;
    // One tick measured, three ticks of overhead: not clamped at zero.
    QTest::newRow("shorter than overhead") << qint64(10'000'000) << qint64(3000) << qint64(1'000'000)
                                           << qint64(1'000'001) << 10'000'000 << qint64(3) << -2.0;
    // Nothing is rounded on the way out.
    QTest::newRow("fraction of a unit") << qint64(3) << qint64(0) << qint64(10) << qint64(11)
                                        << 1 << qint64(0) << 1.0 / 3.0;
}

void TestPerformanceTimer::elapsedTime()
{
    QFETCH(qint64, frequency);
    QFETCH(qint64, calibrationSum);
    QFETCH(qint64, start);
    QFETCH(qint64, stop);
    QFETCH(qint32, accuracy);
    QFETCH(qint64, expectedOverhead);
    QFETCH(double, expected);

    auto fake = fakeWithOverheadSum(frequency, calibrationSum);
    PerformanceTimer timer(counterFor(fake));
    QCOMPARE(fake->reads, 2000);
    QVERIFY(fake->scripted.empty());
    QCOMPARE(timer.frequencyRaw(), frequency);
    QCOMPARE(timer.overheadRaw(), expectedOverhead);

    fake->now = start;
    timer.StartTimer();
    fake->now = stop;
    timer.StopTimer();
    QCOMPARE(timer.TimeElapsed(accuracy), expected);
    // Reading the result is not destructive.
    QCOMPARE(timer.TimeElapsed(accuracy), expected);
}

void TestPerformanceTimer::zeroUntilStartedAndStopped_data()
{
    // Actions applied in order: 's' = StartTimer, 't' = StopTimer; the counter moves on by
    // 25 000 ticks before each action.
    QTest::addColumn<QByteArray>("actions");
    QTest::newRow("fresh timer") << QByteArray();
    QTest::newRow("started, not stopped") << QByteArray("s");
    QTest::newRow("stopped, never started") << QByteArray("t");
    QTest::newRow("restarted after a stopped measurement") << QByteArray("sts");
}

void TestPerformanceTimer::zeroUntilStartedAndStopped()
{
    QFETCH(QByteArray, actions);
    auto fake = fakeWithOverheadSum(10'000'000, 0);
    PerformanceTimer timer(counterFor(fake));
    for (char action : actions) {
        fake->now += 25'000;
        if (action == 's')
            timer.StartTimer();
        else
            timer.StopTimer();
    }
    QCOMPARE(timer.TimeElapsed(1000), 0.0);
    QCOMPARE(timer.TimeElapsed(-1000), 0.0);
}

void TestPerformanceTimer::secondStopKeepsLaterReading()
{
    auto fake = fakeWithOverheadSum(10'000'000, 0);
    PerformanceTimer timer(counterFor(fake));
    fake->now = 1'000'000;
    timer.StartTimer();
    fake->now = 1'025'000;
    timer.StopTimer();
    QCOMPARE(timer.TimeElapsed(1000), 2.5);
    fake->now = 1'040'000;
    timer.StopTimer();
    QCOMPARE(timer.TimeElapsed(1000), 4.0);
}

void TestPerformanceTimer::supportedLeavesMeasurementAlone()
{
    auto fake = fakeWithOverheadSum(10'000'000, 2000);
    PerformanceTimer timer(counterFor(fake));
    QVERIFY(timer.Supported());   // before anything was measured
    QCOMPARE(timer.TimeElapsed(1000), 0.0);

    fake->now = 1'000'000;
    timer.StartTimer();
    fake->now = 1'010'000;
    const int readsBefore = fake->reads;
    QVERIFY(timer.Supported());   // in the middle of a measurement
    QCOMPARE(fake->reads, readsBefore + 1);
    fake->now = 1'025'002;
    timer.StopTimer();
    QCOMPARE(timer.TimeElapsed(1000), 2.5);
    QVERIFY(timer.Supported());
    QCOMPARE(timer.TimeElapsed(1000), 2.5);
    QCOMPARE(timer.frequencyRaw(), qint64(10'000'000));
    QCOMPARE(timer.overheadRaw(), qint64(2));
}

void TestPerformanceTimer::calibrationRoundsHalfToEven_data()
{
    QTest::addColumn<qint64>("calibrationSum");
    QTest::addColumn<qint64>("expectedOverhead");
    QTest::newRow("0.0") << qint64(0) << qint64(0);
    QTest::newRow("0.5 to even 0") << qint64(500) << qint64(0);
    QTest::newRow("1.5 to even 2") << qint64(1500) << qint64(2);
    QTest::newRow("2.499") << qint64(2499) << qint64(2);
    QTest::newRow("2.5 to even 2") << qint64(2500) << qint64(2);
    QTest::newRow("2.501") << qint64(2501) << qint64(3);
    QTest::newRow("3.5 to even 4") << qint64(3500) << qint64(4);
    QTest::newRow("120.5 to even 120") << qint64(120'500) << qint64(120);
    QTest::newRow("121.5 to even 122") << qint64(121'500) << qint64(122);
}

void TestPerformanceTimer::calibrationRoundsHalfToEven()
{
    QFETCH(qint64, calibrationSum);
    QFETCH(qint64, expectedOverhead);
    auto fake = fakeWithOverheadSum(10'000'000, calibrationSum);
    PerformanceTimer timer(counterFor(fake));
    QCOMPARE(fake->reads, 2000);
    QCOMPARE(timer.overheadRaw(), expectedOverhead);
    // Creation leaves no measurement behind.
    QCOMPARE(timer.TimeElapsed(1000), 0.0);
}

void TestPerformanceTimer::withoutCounter()
{
    auto fake = std::make_shared<FakeCounter>();
    fake->frequencyWorks = false;
    fake->counterWorks = false;
    PerformanceTimer timer(counterFor(fake));
    QCOMPARE(fake->reads, 0);   // no calibration without a frequency
    QVERIFY(!timer.Supported());
    QCOMPARE(timer.frequencyRaw(), qint64(10000));
    QCOMPARE(timer.overheadRaw(), qint64(0));
    timer.StartTimer();
    timer.StopTimer();
    QCOMPARE(timer.TimeElapsed(1000), 0.0);
}

void TestPerformanceTimer::realClock()
{
    PerformanceTimer timer;
    QVERIFY(timer.Supported());
    QCOMPARE(timer.frequencyRaw(), qint64(1'000'000'000));
    QVERIFY(timer.overheadRaw() >= 0);

    timer.StartTimer();
    // Stay busy until a separate clock has seen a millisecond go by.
    QElapsedTimer busy;
    busy.start();
    volatile quint64 work = 0;
    while (busy.nsecsElapsed() < 1'000'000)
        work = work + 1;
    timer.StopTimer();

    const double microseconds = timer.TimeElapsed(1'000'000);
    QVERIFY2(microseconds > 0.0, QByteArray::number(microseconds));
}

QTEST_GUILESS_MAIN(TestPerformanceTimer)
#include "tst_performancetimer.moc"
