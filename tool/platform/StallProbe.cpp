#include "platform/StallProbe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <cstdlib>

#include "core/Trace.h"

StallProbeTiming& stallProbeTiming() {
    static StallProbeTiming timing;
    return timing;
}

std::unique_ptr<StallProbe> StallProbe::startFromEnvironment() {
    const char* path = std::getenv(kStallLogVariable);
    if (!path || !*path) return nullptr;
    std::FILE* file = std::fopen(path, "a");
    if (!file) {
        tracef("stall probe: cannot open [%s]\n", path);
        return nullptr;
    }
    return std::unique_ptr<StallProbe>(new StallProbe(file));
}

StallProbe::StallProbe(std::FILE* file)
    : m_file(file),
      m_stats(int64_t{stallProbeTiming().periodMs.load()} * 1000),
      m_timer(std::make_unique<QTimer>(QCoreApplication::instance())) {
    const int tickMs = stallProbeTiming().tickMs.load();
    m_intervalUs = int64_t{tickMs} * 1000;
    m_timer->setObjectName(QString::fromLatin1(kStallProbeTimerName));
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(tickMs);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { onTick(); });
    m_startEpochUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    m_clock.start();
    m_timer->start();
}

StallProbe::~StallProbe() {
    finish();
    std::fclose(m_file);
}

void StallProbe::finish() {
    if (m_finished) return;
    m_finished = true;
    m_timer->stop();
    write(m_stats.finish());
}

void StallProbe::onTick() {
    const int64_t nowUs = m_clock.nsecsElapsed() / 1000;
    // Late by what the gap since the tick before exceeds the interval: the
    // time the event loop could not run timers.
    const int64_t delayUs = nowUs - m_lastTickUs - m_intervalUs;
    m_lastTickUs = nowUs;
    write(m_stats.addTick(m_startEpochUs + nowUs, delayUs));
}

void StallProbe::write(const std::string& lines) {
    if (lines.empty()) return;
    std::fputs(lines.c_str(), m_file);
    std::fflush(m_file);  // the process ends without closing its files
}
