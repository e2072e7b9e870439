// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <utility>
#include <vector>

// What a process holds and has used, read from /proc: this one's, or another's by its id.
// Where the system has no /proc, or the process is gone: -1 (or false, or nothing).
namespace processinfo {

qint64 residentKiB(); // this process's
int openDescriptors(); // this process's

struct Stat
{
    qint64 parent = 0;
    double cpuSeconds = 0; // user and system, its own and its waited-for children's
    QByteArray name;
};
bool readStat(qint64 pid, Stat &stat);
double residentMiB(qint64 pid);
// The CPU time all its threads have run, in ms, finer than readStat's clock ticks.
double threadCpuMs(qint64 pid);
// Its resident and proportional set sizes in MiB.
bool readRollup(qint64 pid, double *rssMiB, double *pssMiB);
// The process and all its descendants.
std::vector<qint64> tree(qint64 root);

// A process tree's CPU time and resident memory, summed, and each process's memory.
struct Usage
{
    double cpuSeconds = 0;
    double rssMiB = 0;
    std::vector<std::pair<QByteArray, double>> processes; // name, MiB
};
Usage usage(qint64 root);

} // namespace processinfo
