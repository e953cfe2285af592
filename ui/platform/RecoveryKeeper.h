#pragma once

#include <QObject>
#include <QTimer>

#include "core/document/Host.h"
#include "core/recovery/Recovery.h"

class QWidget;

// Keeps the run's recovery record in step with it: every change of a section goes to the
// recorder as it happens, and a timer hands the changes over a second after typing pauses, or five
// seconds after the first change not yet recorded while it goes on.
class RecoveryKeeper : public QObject, public velloran::SlotObserver {
    Q_OBJECT

  public:
    // window carries the message shown when records cannot be written.
    RecoveryKeeper(velloran::Session& session, QWidget* window);

    velloran::RecoveryRecorder& Recorder() { return recorder_; }

    void SlotsReplaced(const velloran::SharedBytes& block,
                       std::span<const std::string_view> texts) override;
    void SlotReplaced(int k, const velloran::SharedBytes& block, std::string_view text) override;
    void SlotEdited(int k, std::size_t position, std::size_t removed,
                    std::string_view inserted) override;
    // Whatever changed the panes (a list click, a search result, a key), a record follows.
    void ViewChanged() override;

    // After a command: a document without unsaved changes has no record from now on; the state
    // of one with them (panes, sections, names) is recorded soon.
    void Settle();
    // The program ends as the user asked: no record stays.
    void Close();

  private:
    void Changed();
    void TimerDue();
    // Hands the changes over now; what went wrong, or stopped recording, is told.
    void Record();

    velloran::Session& session_;
    QWidget* window_;
    velloran::RecoveryRecorder recorder_;
    velloran::RecordSchedule schedule_;
    QTimer timer_;
    bool failureShown_ = false;
};
