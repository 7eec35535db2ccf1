#pragma once
// A stopwatch in seconds, on the monotonic clock.
#include <QString>
#include <QtGlobal>
#include <chrono>

class KPTimer
{
public:
    KPTimer() { reset(); }
    static KPTimer timer() { return KPTimer(); }

    void reset() { fStartTimeSeonds = now(); }
    double elapsedSeconds() const { return now() - fStartTimeSeonds; }
    double elapsedSecondsReset()
    {
        const double elapsed = elapsedSeconds();
        reset();
        return elapsed;
    }
    // Logs `message` with the elapsed time when more than `limit` seconds passed; restarts.
    double elapsedSecondsResetMessageIfOver(double limit, const QString &message)
    {
        const double elapsed = elapsedSecondsReset();
        if (elapsed > limit)
            qWarning("%s %.3f", qUtf8Printable(message), elapsed);
        return elapsed;
    }

private:
    static double now()
    {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    double fStartTimeSeonds = 0;
};
