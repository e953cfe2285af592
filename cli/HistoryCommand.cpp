#include "cli/HistoryCommand.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Key.h"
#include "cli/Text.h"
#include "core/document/Error.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryStore.h"
#include "core/history/WordDiff.h"
#include "core/protection/Seal.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/storage/Paths.h"
#include "settings/HistorySettings.h"

namespace velloran::cli {
namespace {

constexpr std::string_view kNoHistory = "%s has no history";

std::uint64_t Number(const std::string& text, std::string_view option) {
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw UsageError(std::string(option) + " takes a number, not '" + text + "'");
    }
    return n;
}

std::unique_ptr<HistoryStore> OpenHistory(const Arguments& a, const std::string& path) {
    const bool typed = a.keySource == KeySource::None || a.keySource == KeySource::Terminal;
    int tries = 0;
    auto store = HistoryStore::OpenToRead(path, [&](HistoryProtection protection, bool wrong) {
        if (wrong) {
            if (!typed || ++tries == 3) {
                throw Refusal(Format(kWrongKey, path));
            }
            std::fprintf(stderr, "velloran-cli: %s\n", Format(kWrongKey, path).c_str());
        }
        return protection == HistoryProtection::DerivedKey ? ReadCipherKey(a, false)
                                                           : ReadKey(a, false);
    });
    return store;
}

const Version& VersionOf(const HistoryStore& store, const std::string& text,
                         std::string_view option) {
    const Version* v = store.Find(Number(text, option));
    if (!v) {
        throw Error(Format(kNoSuchVersion, text));
    }
    return *v;
}

std::string TimeText(std::int64_t time) {
    const auto t = static_cast<std::time_t>(time);
    std::tm local{};
    char text[32] = "?";
    if (::localtime_r(&t, &local)) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    }
    return text;
}

std::string SectionsText(const std::vector<int>& sections) {
    std::string text = sections.size() == 1 ? "section " : "sections ";
    for (std::size_t i = 0; i < sections.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(sections[i]);
    }
    return sections.empty() ? "no section changed" : text;
}

void Write(const std::optional<std::string>& path, std::string_view bytes, bool privately) {
    if (path) {
        // The text of a sealed or enciphered document is no more open to others here.
        std::optional<FileAccess> access;
        if (privately) {
            const auto old = AccessOf(*path);
            access = FileAccess{(old ? old->mode : NewFileMode()) & 0600,
                                old ? old->group : std::nullopt};
        }
        const WriteResult written = ReplaceFile(
            *path, [&](OutputFile& out) { out.Write(bytes); }, access);
        if (!written) {
            throw Error(Format(kCannotCreate, *path), written.Reason());
        }
        return;
    }
    OutputFile out(STDOUT_FILENO);
    out.Write(bytes);
    if (!out.Flush()) {
        throw Error(Format(kUnableToWrite, "standard output"));
    }
}

int List(const Arguments& a, const HistoryStore* store, const std::string& path) {
    const std::vector<Version> none;
    const auto& versions = store ? store->Versions() : none;
    const TextForm text(a.utf8, Encoding::Utf8);
    std::string out;
    if (a.json) {
        JsonWriter json;
        json.BeginObject().Key("document").String(path).Key("versions").BeginArray();
        for (const Version& v : versions) {
            json.BeginObject().Key("number").Number(v.number);
            json.Key("time").Number(static_cast<std::size_t>(std::max<std::int64_t>(v.time, 0)));
            json.Key("date").String(TimeText(v.time));
            json.Key("event").String(EventName(v.event));
            json.Key("words").Number(v.Words()).Key("bytes").Number(v.Bytes());
            json.Key("sections").Number(v.sections.size());
            json.Key("changed").BeginArray();
            for (const int k : v.changed) {
                json.Number(static_cast<std::size_t>(k));
            }
            json.EndArray().Key("kept");
            if (v.kept.empty()) {
                json.Null();
            } else {
                json.String(TextForm(false, v.encoding).ForJson(v.kept));
            }
            json.EndObject();
        }
        json.EndArray().EndObject();
        out = json.Text() + "\n";
    } else {
        for (const Version& v : versions) {
            char head[96];
            std::snprintf(head, sizeof head, "%5llu  %s  %-17s %9llu words  ",
                          static_cast<unsigned long long>(v.number), TimeText(v.time).c_str(),
                          std::string(EventName(v.event)).c_str(),
                          static_cast<unsigned long long>(v.Words()));
            out += head + SectionsText(v.changed);
            if (!v.kept.empty()) {
                out += "  kept as \"" + TextForm(a.utf8, v.encoding).Out(v.kept) + "\"";
            }
            out += "\n";
        }
    }
    Write(std::nullopt, out, false);
    return 0;
}

std::string Title(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

int Diff(const Arguments& a, const HistoryStore& store) {
    const Version& from = VersionOf(store, *a.diff, "--diff");
    const Version& to =
        a.operands.size() > 1 ? VersionOf(store, a.operands[1], "--diff") : store.Versions().back();
    const bool colour = ::isatty(STDOUT_FILENO) != 0;
    const TextForm text(a.utf8, to.encoding);
    std::string out;
    const std::size_t most = std::max(from.sections.size(), to.sections.size());
    for (std::size_t k = 0; k < most; ++k) {
        const bool inFrom = k < from.sections.size();
        const bool inTo = k < to.sections.size();
        if (inFrom && inTo && from.sections[k].hash == to.sections[k].hash) {
            continue;
        }
        const std::string before = inFrom ? store.SectionText(from, k) : std::string();
        const std::string after = inTo ? store.SectionText(to, k) : std::string();
        const TextDiff d = DiffWords(before, after);
        out += (colour ? "\033[36m" : "") + std::string("@@ section ") + std::to_string(k) + ": " +
               text.Out(Title(inTo ? after : before)) + " (+" + std::to_string(d.wordsAdded) +
               " -" + std::to_string(d.wordsRemoved) + " words) @@" + (colour ? "\033[m" : "") +
               "\n";
        for (const DiffPiece& p : d.pieces) {
            const std::string piece = text.Out(p.text);
            switch (p.kind) {
                case DiffKind::Same:
                    out += piece;
                    break;
                case DiffKind::Deleted:
                    out += colour ? "\033[31m" + piece + "\033[m" : "[-" + piece + "-]";
                    break;
                case DiffKind::Inserted:
                    out += colour ? "\033[32m" + piece + "\033[m" : "{+" + piece + "+}";
                    break;
            }
        }
        if (!out.empty() && out.back() != '\n') {
            out += "\n";
        }
    }
    Write(std::nullopt, out, false);
    return 0;
}

}  // namespace

int History(const Arguments& a) {
    const int modes = (a.show ? 1 : 0) + (a.diff ? 1 : 0) + (a.keep ? 1 : 0);
    if (modes > 1) {
        throw UsageError("give one of --show, --diff and --keep");
    }
    if (a.section && !a.show) {
        throw UsageError("--section applies to --show");
    }
    if (a.output && !a.show) {
        throw UsageError("-o applies to history --show");
    }
    if (a.json && modes > 0) {
        throw UsageError("--json applies to the list of versions");
    }
    if (a.keep && a.operands.size() != 2) {
        throw UsageError("missing arguments: velloran-cli history FILE --keep N NAME");
    }
    const std::string path = AbsolutePath(a.operands[0]);
    auto store = OpenHistory(a, path);
    if (modes == 0) {
        return List(a, store.get(), path);
    }
    if (!store || store->Versions().empty()) {
        throw Error(Format(kNoHistory, path));
    }
    if (a.keep) {
        store->Keep(Number(*a.keep, "--keep"), a.operands[1]);
        return 0;
    }
    if (a.diff) {
        return Diff(a, *store);
    }
    const Version& v = VersionOf(*store, *a.show, "--show");
    std::string bytes =
        a.section ? store->SectionText(v, Number(*a.section, "--section")) : store->DocumentText(v);
    Write(a.output, bytes, store->Protection() != HistoryProtection::None);
    if (store->Protection() != HistoryProtection::None) {
        Wipe(bytes);
    }
    return 0;
}

void KeepWrittenVersion(const std::string& path, const SideKey& key, std::string_view text) {
    const Protection opened = ProtectionOfName(path);
    if ((key.kind == SideKey::Kind::None) != (opened == Protection::Plain) ||
        (key.kind == SideKey::Kind::DocumentKey) != (opened == Protection::Sealed)) {
        return;
    }
    try {
        const HistorySettings settings = LoadHistorySettings();
        if (!settings.Keep) {
            return;
        }
        HistoryRecorder recorder(HistoryRulesOf(settings));
        recorder.VersionedFile(AbsolutePath(path), key, VersionEvent::Saved, text);
        if (!recorder.Note().empty()) {
            std::fprintf(stderr, "velloran-cli: %s\n", recorder.Note().c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velloran-cli: %s\n", e.what());
    }
}

void KeepWrittenVersion(const std::string& path, const SideKey& key, const DocumentBuffer& lines) {
    std::string text;
    lines.ForEachCrLfPiece(0, lines.LineCount(),
                           [&](std::string_view piece) { text.append(piece); });
    KeepWrittenVersion(path, key, text);
    Wipe(text);
}

}  // namespace velloran::cli
