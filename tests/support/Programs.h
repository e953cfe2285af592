#pragma once

// The real program started on a document, as a user starts it, for tests that kill it, start it
// again or run two at once.

#include <QProcess>
#include <QString>
#include <memory>
#include <string>
#include <vector>

namespace velloran::testing {

// Every program started here ends with EndAll or with this: killed if it still runs.
class Programs {
  public:
    Programs() = default;
    Programs(const Programs&) = delete;
    Programs& operator=(const Programs&) = delete;
    ~Programs() { EndAll(); }

    QProcess& Start(const std::string& document) {
        auto& program = *programs_.emplace_back(std::make_unique<QProcess>());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QStringLiteral(VELLORAN_PROGRAM), {QString::fromStdString(document)});
        program.waitForStarted();
        return program;
    }

    void EndAll() {
        for (auto& program : programs_) {
            if (program->state() != QProcess::NotRunning) {
                program->kill();
                program->waitForFinished(10000);
            }
        }
        programs_.clear();
    }

  private:
    std::vector<std::unique_ptr<QProcess>> programs_;
};

}  // namespace velloran::testing
