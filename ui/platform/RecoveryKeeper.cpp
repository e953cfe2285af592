#include "ui/platform/RecoveryKeeper.h"

#include <QFile>
#include <algorithm>
#include <chrono>

#include "ui/platform/Guard.h"

using Clock = velloran::RecordSchedule::Clock;

RecoveryKeeper::RecoveryKeeper(velloran::Session& session, QWidget* window)
    : session_(session), window_(window) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &RecoveryKeeper::TimerDue);
}

void RecoveryKeeper::SlotsReplaced(const velloran::SharedBytes& block,
                                   std::span<const std::string_view> texts) {
    recorder_.SlotsReplaced(block, texts);
    Changed();
}

void RecoveryKeeper::SlotReplaced(int k, const velloran::SharedBytes& block,
                                  std::string_view text) {
    recorder_.SlotReplaced(k, block, text);
    Changed();
}

void RecoveryKeeper::SlotEdited(int k, std::size_t position, std::size_t removed,
                                std::string_view inserted) {
    recorder_.SlotEdited(k, position, removed, inserted);
    Changed();
}

void RecoveryKeeper::Changed() {
    schedule_.Changed(Clock::now());
    // Started once, not at every key: when it fires early it waits for the rest.
    if (!timer_.isActive()) {
        timer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(
            velloran::RecordSchedule::kPause));
    }
}

void RecoveryKeeper::TimerDue() {
    const auto due = schedule_.Due();
    if (!due) {
        return;
    }
    const auto now = Clock::now();
    if (now < *due) {
        timer_.start(std::chrono::ceil<std::chrono::milliseconds>(*due - now));
        return;
    }
    Record();
}

void RecoveryKeeper::Record() {
    schedule_.Recorded();
    recorder_.Record(session_);
    if (auto suspension = recorder_.TakeSuspension()) {
        velloran::ui::ShowErrorMessage(window_, QFile::decodeName(suspension->c_str()));
    }
    if (auto failure = recorder_.TakeFailure(); failure && !failureShown_) {
        failureShown_ = true;
        velloran::ui::ShowErrorMessage(window_, QFile::decodeName(failure->c_str()));
    }
}

void RecoveryKeeper::ViewChanged() {
    if (session_.st.Modified) {
        Changed();
    }
}

void RecoveryKeeper::Settle() {
    if (session_.st.Modified) {
        Changed();
        return;
    }
    timer_.stop();
    Record();
}

void RecoveryKeeper::Close() {
    timer_.stop();
    recorder_.Close();
}
