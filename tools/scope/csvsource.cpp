// SPDX-License-Identifier: MIT
#include "csvsource.h"

#include "telemetryline.h"

namespace pidtune::scope {

namespace {

// A CSV row's time, its first cell.
bool rowTime(const QByteArray &row, double *time)
{
    const qsizetype comma = row.indexOf(',');
    const QByteArray cell = row.left(comma < 0 ? row.size() : comma).trimmed();
    return readNumber(cell.constData(), cell.constData() + cell.size(), time);
}

} // namespace

std::unique_ptr<CsvSource> CsvSource::open(const QString &path, QByteArray *timeColumn,
                                           QString *error)
{
    std::unique_ptr<CsvSource> source(new CsvSource);
    QFile &file = source->csv;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return nullptr;
    }
    const QByteArray header = file.readLine(kMaxLineLength).trimmed();
    if (header.isEmpty()) {
        *error = QStringLiteral("no header row naming the columns");
        return nullptr;
    }
    for (QByteArray name : header.split(',')) {
        // A name must stay one label in a telemetry line.
        for (char &c : name) {
            if (c == ' ' || c == '\t' || c == ':' || c == '=')
                c = '_';
        }
        source->columns.append(name.trimmed());
    }
    *timeColumn = source->columns.first();
    source->row = file.readLine(kMaxLineLength);
    rowTime(source->row, &source->firstRowTime);
    connect(&source->replayTimer, &QTimer::timeout, source.get(), &CsvSource::replay);
    source->replayClock.start();
    source->replayTimer.start(10);
    return source;
}

void CsvSource::replay()
{
    QByteArray lines;
    // The rows that are due, but a bounded amount each time, so the window stays responsive.
    while (!row.isEmpty() && lines.size() < (1 << 20)) {
        // A row whose time cannot be read goes at once.
        double time = 0;
        if (rowTime(row, &time) && time - firstRowTime > double(replayClock.elapsed()) / 1000)
            break;
        const QList<QByteArray> cells = row.trimmed().split(',');
        for (int i = 0; i < cells.size() && i < columns.size(); ++i) {
            if (!cells[i].trimmed().isEmpty())
                lines += columns[i] + '=' + cells[i].trimmed() + ' ';
        }
        lines += '\n';
        row = csv.readLine(kMaxLineLength);
    }
    if (!lines.isEmpty())
        emit received(lines);
    if (row.isEmpty()) {
        replayTimer.stop();
        emit ended(csv.atEnd() ? QStringLiteral("end of %1").arg(csv.fileName())
                               : QStringLiteral("%1: %2").arg(csv.fileName(), csv.errorString()));
    }
}

} // namespace pidtune::scope
