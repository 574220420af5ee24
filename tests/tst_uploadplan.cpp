// The piece plan of the test-file upload: counts, piece sizes, progress values and the
// write command, without a window or a line.
#include <QTest>

#include "playtest/uploadplan.h"

Q_DECLARE_METATYPE(UploadPlan::Problem)

class TestUploadPlan : public QObject
{
    Q_OBJECT
private slots:
    void pieces_data();
    void pieces();
    void refused_data();
    void refused();
    void writeCommand_data();
    void writeCommand();
};

void TestUploadPlan::pieces_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QList<int>>("progress");   // bar value after each piece but the last

    QTest::newRow("1 byte") << qint64(1) << QList<int>{1} << QList<int>{};
    QTest::newRow("511") << qint64(511) << QList<int>{511} << QList<int>{};
    QTest::newRow("512: one last piece") << qint64(512) << QList<int>{512} << QList<int>{};
    QTest::newRow("513") << qint64(513) << QList<int>{512, 1} << QList<int>{512};
    QTest::newRow("1024") << qint64(1024) << QList<int>{512, 512} << QList<int>{512};
    QTest::newRow("1300") << qint64(1300) << QList<int>{512, 512, 276} << QList<int>{512, 1024};
    QTest::newRow("2049") << qint64(2049) << QList<int>{512, 512, 512, 512, 1} << QList<int>{512, 1024, 1536, 2048};
}

void TestUploadPlan::pieces()
{
    QFETCH(qint64, length);
    QFETCH(QList<int>, sizes);
    QFETCH(QList<int>, progress);

    const UploadPlan plan(length);
    QCOMPARE(plan.problem(), UploadPlan::Problem::None);
    QCOMPARE(plan.pieceCount(), qint64(sizes.size()));
    QList<int> gotSizes;
    QList<int> gotProgress;
    for (qint64 i = 0; i < plan.pieceCount(); ++i) {
        gotSizes << plan.pieceSize(i);
        QCOMPARE(plan.isLast(i), i == plan.pieceCount() - 1);
        if (!plan.isLast(i))
            gotProgress << plan.progressAfter(i);
    }
    QCOMPARE(gotSizes, sizes);
    QCOMPARE(gotProgress, progress);
    QCOMPARE(plan.pieceSize(-1), 0);
    QCOMPARE(plan.pieceSize(plan.pieceCount()), 0);
}

void TestUploadPlan::refused_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<UploadPlan::Problem>("problem");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<int>("lastSize");

    QTest::newRow("empty") << qint64(0) << UploadPlan::Problem::Empty << qint64(0) << 0;
    QTest::newRow("largest") << qint64(2147483647) << UploadPlan::Problem::None << qint64(4194304) << 511;
    QTest::newRow("one byte too many") << qint64(2147483648) << UploadPlan::Problem::TooLarge << qint64(0) << 0;
    QTest::newRow("huge") << (qint64(1) << 40) << UploadPlan::Problem::TooLarge << qint64(0) << 0;
}

void TestUploadPlan::refused()
{
    QFETCH(qint64, length);
    QFETCH(UploadPlan::Problem, problem);
    QFETCH(qint64, count);
    QFETCH(int, lastSize);

    const UploadPlan plan(length);
    QCOMPARE(plan.problem(), problem);
    QCOMPARE(plan.pieceCount(), count);
    QCOMPARE(plan.pieceSize(count - 1), lastSize);
    if (count > 1)
        QCOMPARE(plan.progressAfter(count - 2), int((count - 1) * UploadPlan::PieceSize));
}

void TestUploadPlan::writeCommand_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("full piece") << 512 << QByteArray("FC W 1 512\r");
    QTest::newRow("one byte") << 1 << QByteArray("FC W 1 1\r");
    QTest::newRow("276") << 276 << QByteArray("FC W 1 276\r");
}

void TestUploadPlan::writeCommand()
{
    QFETCH(int, count);
    QFETCH(QByteArray, command);
    QCOMPARE(UploadPlan::writeCommand(count), command);
}

QTEST_APPLESS_MAIN(TestUploadPlan)
#include "tst_uploadplan.moc"
