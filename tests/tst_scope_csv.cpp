// SPDX-License-Identifier: MIT
// pidtune-scope: the scope's lines saved as CSV and replayed at their pace; CSV files as others
// write them; what is no file to save to or to replay.
#include "csvsource.h"
#include "parameterlog.h"
#include "scopelines.h"
#include "telemetry.h"

#include <QtTest>

#include <cerrno>
#include <cmath>
#include <cstring>

#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using namespace pidtune::scope;

namespace {

QStringList changesOf(const ParameterLog &log)
{
    QStringList changes;
    for (const ParameterChange &change : log.changes())
        changes << QStringLiteral("@%1 %2")
                       .arg(change.time)
                       .arg(changeText(change, log.name(change.id)));
    return changes;
}

// The lines the file replays to its end, as the scope's window would get them, or why not; then
// its parameter changes "@time text" and its steps' lines.
QString replay(const QString &path, QStringList *changes = nullptr, QStringList *steps = nullptr)
{
    Telemetry replayed({"", 1e-3, "sp", "y"});
    QByteArray timeColumn;
    QString error;
    const std::unique_ptr<CsvSource> source = CsvSource::open(path, &timeColumn, &error);
    if (!source)
        return error;
    replayed.setTimeField(timeColumn, 1);
    QObject::connect(source.get(), &Source::received, &replayed, &Telemetry::feed);
    QObject::connect(source.get(), &Source::parameterRecorded, &replayed,
                     &Telemetry::parameterRecorded);
    QObject::connect(&replayed, &Telemetry::stepMeasured,
                     [&](const StepMetrics &step) { *steps << stepLine(step); });
    QSignalSpy ended(source.get(), &Source::ended);
    if (!ended.wait())
        return QStringLiteral("never ended");
    if (changes)
        *changes = changesOf(replayed.parameters());
    if (steps)
        replayed.finish();
    return render(replayed, true)
        + (replayed.skipped() ? QStringLiteral(" | %1 skipped").arg(replayed.skipped())
                              : QString());
}

} // namespace

class ScopeCsvTest : public QObject
{
    Q_OBJECT

private slots:
    void savesAndReplaysCsv();
    void keepsParameterChanges();
    void replaysOthersCsv_data();
    void replaysOthersCsv();
    void refusesWhatIsNoFile();
};

void ScopeCsvTest::savesAndReplaysCsv()
{
    Telemetry recorded({"t", 1e-3, "sp", "y"});
    recorded.feed("t=0 a=0.30000000000000004 b=-2\nt=10 b=nan\nt=20 a=-inf c=1e-7\n");
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("scope.csv"));
    QString error;
    QVERIFY2(writeCsv(recorded.buffer(), path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("time,a,b,c\n0,0.30000000000000004,-2,\n0.01,,nan,\n0.02,-inf,,1e-07\n"));
    QElapsedTimer replaying;
    replaying.start();
    QCOMPARE(replay(path), render(recorded, true));
    // At the pace recorded: 20 ms from the first row to the last.
    QVERIFY(replaying.elapsed() >= 15);
}

// The markers and the steps' parameters come back from the file as they were: a frame applied,
// one refused, one unanswered, one the device set itself; a name given only to the recording.
void ScopeCsvTest::keepsParameterChanges()
{
    Telemetry recorded({"t", 1e-3, "sp", "y"});
    recorded.parameters().setNames({{1, "Kp"}});
    QStringList steps;
    connect(&recorded, &Telemetry::stepMeasured,
            [&](const StepMetrics &step) { steps << stepLine(step); });
    recorded.parameterSent(1, 2); // before any line: placed by the first
    for (int ms = 0; ms < 300; ++ms) {
        // A first-order answer, tau 20 ms, to a step of the set-point at 100 ms.
        const double y = ms < 100 ? 0 : 1 - std::exp((100 - ms) / 20.0);
        recorded.feed(
            QStringLiteral("t=%1 sp=%2 y=%3\n").arg(ms).arg(ms < 100 ? 0 : 1).arg(y).toLatin1());
        if (ms == 5)
            recorded.feed("param id=1 value=2\n");
        if (ms == 50) {
            recorded.parameterSent(2, 0.7f);
            recorded.feed("reject id=2 value=0.7 reason=range\nparam id=9 value=0.25\n");
        }
        if (ms == 150)
            recorded.parameterSent(1, 8.125f);
    }
    recorded.finish();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("scope.csv"));
    QString error;
    QVERIFY2(writeCsv(recorded.buffer(), path, &error, &recorded.parameters()), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    QCOMPARE(rows.at(0), QByteArray("time,sp,y,pidtune_parameter"));
    QCOMPARE(rows.at(1),
             QByteArray(",,,id=1 name=Kp value=2 answer=applied answered=0.006").prepend("0"));
    QCOMPARE(rows.at(2), QByteArray("0,0,0,"));
    QStringList changes, replayedSteps;
    QCOMPARE(replay(path, &changes, &replayedSteps), render(recorded, true));
    QCOMPARE(changes, changesOf(recorded.parameters()));
    QCOMPARE(changes.size(), 4);
    QCOMPARE(replayedSteps, steps);
    QVERIFY2(steps.size() == 1 && steps[0].endsWith(QLatin1String(" params=Kp:2,9:0.25")),
             qPrintable(steps.join(QLatin1Char('\n'))));
}

void ScopeCsvTest::replaysOthersCsv_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("lines");
    const QByteArray longRow = "0.5," + QByteArray("1,").repeated(2100) + "1\n";
    // clang-format off
    QTest::newRow("a spreadsheet's names: each one label") << QByteArray("s,speed (rpm),Kp=5,y:1\n0.5,1,2,3\n") << "0.5: speed_(rpm)=1 Kp_5=2 y_1=3";
    QTest::newRow("spaces after the commas") << QByteArray("time, sp, y\n0.5, 1, 3\n") << "0.5: sp=1 y=3";
    QTest::newRow("a series named like the time") << QByteArray("time,time,sp,sp\n0.5,5,1,2\n") << "0.5: time_2=5 sp=1 sp_2=2";
    QTest::newRow("a row over 4 KiB is one row") << "time,y\n" + longRow + "0.6,2\n" << "0.5: y=1 | 0.6: y=2";
    QTest::newRow("stamped with uptime, after a row without a time") << QByteArray("time,y\n,0\n7200.5,1\n7200.52,2\n") << "7200.5: y=1 | 7200.52: y=2 | 1 skipped";
    // clang-format on
}

void ScopeCsvTest::replaysOthersCsv()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, lines);
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("other.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();
    QCOMPARE(replay(file.fileName()), lines);
}

// A FIFO to replay would hold the window until a writer comes, and saving over a device or a
// FIFO would replace it with a file; a write the disk refuses is no success, with its reason.
void ScopeCsvTest::refusesWhatIsNoFile()
{
#if !defined(Q_OS_UNIX)
    QSKIP("FIFOs and file size limits are Unix's");
#else
    QTemporaryDir folder;
    const QString fifo = folder.filePath(QStringLiteral("live.csv"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(replay(fifo), QStringLiteral("not a regular file; pipe a live stream into - instead"));
    Telemetry recorded({"t", 1e-3, "sp", "y"});
    recorded.feed(QByteArray("t=0 y=1\n").repeated(20000));
    QString error;
    // (A FIFO, not a device: a fault here must not replace /dev/null on the machine.)
    QVERIFY(!writeCsv(recorded.buffer(), fifo, &error));
    QCOMPARE(error, QStringLiteral("not a regular file"));
    QVERIFY(!QFileInfo(fifo).isFile());
    // Files of at most 64 KiB, as on a disk that fills: the writes fail, and say why.
    rlimit limit {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit full {65536, limit.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const bool saved
        = writeCsv(recorded.buffer(), folder.filePath(QStringLiteral("a.csv")), &error);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    QVERIFY(!saved);
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("a.csv"))));
#endif
}

QTEST_MAIN(ScopeCsvTest)
#include "tst_scope_csv.moc"
