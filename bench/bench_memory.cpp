// Peak memory of a document opened in the real windows, beside 51 bare plain-text editors
// holding the same section texts. Peaks only grow, so each side is measured in a process of its
// own: the benchmark starts this program again with --memory-probe.
#ifdef VELLORAN_BENCH_QT

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/storage/DocumentFile.h"
#include "ui/Windows.h"
#include "ui/platform/CommandLine.h"
#include "util.h"

extern char** environ;

namespace velloran::bench {
namespace {

std::string WriteDocumentFile(std::size_t mib) {
    const std::string path = TempFolder() + "/doc.vlp";
    const std::string text = MakeDocument(mib * kMiB, 50);
    std::ofstream(path, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    return path;
}

// The sections of the file as the editors would show them, one text per section.
std::vector<QString> SectionTexts(const std::string& path) {
    DocumentBuffer buffer;
    ReadDocument(path, buffer);
    std::vector<QString> texts(1);
    for (std::size_t i = 0; i < buffer.LineCount(); ++i) {
        const std::string_view line = buffer.Line(i);
        if (IsMarkerLine(line) && texts.size() < 51) {
            texts.emplace_back();
        }
        texts.back() += QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
        texts.back() += u'\n';
    }
    return texts;
}

void Probe(const std::string& what, const std::string& path) {
    if (what == "editor") {
        auto forms = ui::CreateWindows({"velloran", path});
        forms->Show();
        QApplication::processEvents();
        std::printf("%ld\n", ui::PeakResidentKiB());
        return;
    }
    std::vector<std::unique_ptr<QPlainTextEdit>> editors;
    {
        std::vector<QString> texts = SectionTexts(path);
        for (QString& text : texts) {
            editors.push_back(std::make_unique<QPlainTextEdit>());
            editors.back()->setPlainText(text);
            text = QString();
        }
    }
    editors.front()->show();
    QApplication::processEvents();
    std::printf("%ld\n", ui::PeakResidentKiB());
}

double RunProbe(const std::string& what, const std::string& path) {
    int out[2];
    if (pipe(out) != 0) {
        return 0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string self = "/proc/self/exe";
    std::string flag = "--memory-probe=" + what + ":" + path;
    char* argv[] = {self.data(), flag.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string reply;
    char chunk[64];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) {
        reply.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (rc != 0) {
        return 0;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return std::strtod(reply.c_str(), nullptr) / 1024.0;
}

void BM_PeakMemoryOpened(benchmark::State& st) {
    const std::string path = WriteDocumentFile(static_cast<std::size_t>(st.range(0)));
    double editor = 0;
    double floor = 0;
    for (auto _ : st) {
        editor = RunProbe("editor", path);
        floor = RunProbe("floor", path);
    }
    st.counters["peak_MiB"] = editor;
    st.counters["floor_MiB"] = floor;
    st.counters["floor_ratio"] = floor > 0 ? editor / floor : 0;
}

BENCHMARK(BM_PeakMemoryOpened)->Arg(10)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

bool RunMemoryProbe(int argc, char** argv) {
    const std::string prefix = "--memory-probe=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(prefix, 0) == 0) {
            const std::string request = arg.substr(prefix.size());
            const auto colon = request.find(':');
            Probe(request.substr(0, colon), request.substr(colon + 1));
            return true;
        }
    }
    return false;
}

}  // namespace velloran::bench

#endif
