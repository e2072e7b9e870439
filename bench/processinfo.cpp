// SPDX-License-Identifier: MIT
#include "processinfo.h"

#include <QDir>
#include <QFile>

#include <map>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace processinfo {

namespace {

// A "Name:  value kB" field of /proc/<pid>/status or smaps_rollup, in KiB; -1 if none.
double field(const QString &path, const QByteArray &name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toDouble();
    }
    return -1;
}

} // namespace

qint64 residentKiB()
{
    return qint64(field(QStringLiteral("/proc/self/status"), "VmRSS:"));
}

int openDescriptors()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    return fds.exists() ? int(fds.entryList(QDir::Files | QDir::System).size()) : -1;
}

bool readStat(qint64 pid, Stat &stat)
{
#if defined(Q_OS_UNIX)
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    const int open = text.indexOf('('), close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return false;
    stat.name = text.mid(open + 1, close - open - 1);
    // Field 3 of proc(5), the state, comes first: the parent is field 4, utime to cstime 14-17.
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 15)
        return false;
    static const double ticks = double(::sysconf(_SC_CLK_TCK));
    stat.parent = fields[1].toLongLong();
    stat.cpuSeconds = (fields[11].toDouble() + fields[12].toDouble() + fields[13].toDouble()
                       + fields[14].toDouble())
        / ticks;
    return true;
#else
    Q_UNUSED(pid);
    Q_UNUSED(stat);
    return false;
#endif
}

double residentMiB(qint64 pid)
{
    const double kib = field(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS:");
    return kib < 0 ? -1 : kib / 1024;
}

double threadCpuMs(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double ns = 0;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly))
            ns += schedstat.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e6;
}

bool readRollup(qint64 pid, double *rssMiB, double *pssMiB)
{
    const QString path = QStringLiteral("/proc/%1/smaps_rollup").arg(pid);
    const double rss = field(path, "Rss:"), pss = field(path, "Pss:");
    if (rss < 0 || pss < 0)
        return false;
    *rssMiB = rss / 1024;
    *pssMiB = pss / 1024;
    return true;
}

std::vector<qint64> tree(qint64 root)
{
    std::multimap<qint64, qint64> children;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        Stat stat;
        if (isNumber && readStat(pid, stat))
            children.emplace(stat.parent, pid);
    }
    std::vector<qint64> all {root};
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto range = children.equal_range(all[i]);
        for (auto child = range.first; child != range.second; ++child)
            all.push_back(child->second);
    }
    return all;
}

Usage usage(qint64 root)
{
    Usage sum;
    for (const qint64 pid : tree(root)) {
        Stat stat;
        if (!readStat(pid, stat))
            continue;
        const double rss = std::max(0.0, residentMiB(pid));
        sum.cpuSeconds += stat.cpuSeconds;
        sum.rssMiB += rss;
        sum.processes.emplace_back(stat.name, rss);
    }
    return sum;
}

} // namespace processinfo
