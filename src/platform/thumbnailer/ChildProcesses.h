#pragma once
// The child processes that read untrusted files for Kelso: its own decoder workers and the
// installed thumbnailers. Every one of them runs with the same limits: an address-space limit
// (RLIMIT_AS), no descriptor of Kelso's beyond the ones it is given, and a time limit per job
// enforced by the caller. All of them are registered here while they live, so that a quit can
// kill them at once instead of waiting for them.
//
// Thread-safe; used from the thumbnail queue's threads and, for stopAll(), the main thread.
#include <QString>
#include <QStringList>
#include <sys/types.h>

class QProcess;

namespace ChildProcesses {

// Limits shared by every child (defaults: 4 s per job, 1 GiB of address space).
int jobTimeLimitMs();
void setJobTimeLimitMs(int ms);
qint64 memoryLimitBytes();
void setMemoryLimitBytes(qint64 bytes);

// Forks and executes `program` with `args` (argv[0] included) and `socketFd` as descriptor 3;
// stdin is /dev/null, stdout goes to /dev/null, stderr is shared. Every other descriptor is
// closed, the memory limit is set before the exec. Answers the pid, or -1 (errno set) when the
// fork failed or the children are being stopped.
pid_t spawnWithSocket(const QByteArray &program, const QList<QByteArray> &args, int socketFd);

// For a QProcess child: sets the memory limit and marks every descriptor above stderr
// close-on-exec in the child, and registers the pid once started (see track()).
void applyLimits(QProcess &process);

// Registration: a pid killed by stopAll(). untrack() when the child is gone.
// track() answers false (and kills the child) when the children are being stopped.
bool track(pid_t pid);
void untrack(pid_t pid);

// Kills `pid` and, when it leads a process group (children started with applyLimits), every
// process of that group, with SIGKILL. Does not reap.
void killWithGroup(pid_t pid);
// Kills `pid` (and its group) with SIGKILL and reaps it on a thread of its own, so the caller never waits.
void killAndForget(pid_t pid);
// Reaps an exited child within `ms` and answers its wait status, or -1 (then it is killed and
// forgotten).
int reap(pid_t pid, int ms);

// At quit: kills every registered child and refuses new ones. Never waits.
void stopAll();
bool stopping();
// Tests: accept children again after stopAll().
void resumeForTesting();
QList<pid_t> livePids();

} // namespace ChildProcesses
