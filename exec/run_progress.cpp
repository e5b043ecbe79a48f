#include "exec/run_progress.h"

#include <algorithm>
#include <cmath>

RunProgress::RunProgress(const CActionList& plan, Clock::time_point start) : m_start(start) {
    m_bytesBefore.reserve(plan.size() + 1);
    m_bytesBefore.push_back(0);
    for (const auto& action : plan) {
        m_bytesBefore.push_back(m_bytesBefore.back() + action->GetBytes());
    }
}

void RunProgress::StepEnded(size_t index) {
    m_stepsDone = std::min(index + 1, Steps());
    m_stepBytes = 0;
}

void RunProgress::AddCopiedBytes(std::uint64_t bytes) {
    m_bytesCopied += bytes;
    if (m_stepsDone < Steps()) {
        const std::uint64_t planned = m_bytesBefore[m_stepsDone + 1] - m_bytesBefore[m_stepsDone];
        m_stepBytes = std::min(planned, m_stepBytes + bytes);
    }
}

double RunProgress::Fraction() const {
    const double total = static_cast<double>(Bytes() + Steps() * kStepBytes);
    const double done = static_cast<double>(BytesDone() + m_stepsDone * kStepBytes);
    return total > 0 ? done / total : 0;
}

std::optional<std::chrono::seconds> RunProgress::TimeLeft(Clock::time_point now) const {
    const double fraction = Fraction();
    const std::chrono::duration<double> elapsed = now - m_start;
    // Once every step has ended what is left (the flush) is not measured.
    if (elapsed < kEstimateAfter || fraction <= 0 || m_stepsDone == Steps()) {
        return std::nullopt;
    }
    // What is left takes what was done took, in proportion.
    const double left = elapsed.count() * (1 - fraction) / fraction;
    return std::chrono::seconds(static_cast<long long>(std::ceil(left)));
}
