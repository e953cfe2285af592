#include "cli/ReplaceCommand.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Key.h"
#include "cli/Text.h"
#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/protection/Cipher.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/storage/FileIO.h"
#include "core/tools/Replace.h"

namespace velloran::cli {
namespace {

// The editor's dialogs, answered from the command line: the key from where the arguments say,
// read once and given to every prompt (opening and saving alike, every FILE alike); every
// question is answered No, so that nothing is overwritten that the editor would ask about.
class CommandLineDialogs : public Dialogs {
  public:
    explicit CommandLineDialogs(const Arguments& a) : a_(a) {}

    void Document(const std::string& path) {
        path_ = path;
        wrong_ = false;
        tries_ = 0;
    }

    PromptResult AskKeyPrompt(KeyText form) override {
        std::optional<std::string>& key = form == KeyText::CodePage ? cipherKey_ : sealKey_;
        if (wrong_) {
            // A key typed on the terminal may be typed again, as the editor asks again; one
            // from a descriptor or a file would only be given once more as it was.
            wrong_ = false;
            const bool typed =
                a_.keySource == KeySource::None || a_.keySource == KeySource::Terminal;
            if (!typed || ++tries_ == 3) {
                throw Refusal(Format(kWrongKey, path_));
            }
            std::fprintf(stderr, "velloran-cli: %s\n", Format(kWrongKey, path_).c_str());
            key.reset();
        }
        if (!key) {
            key = form == KeyText::CodePage ? ReadCipherKey(a_, false) : ReadKey(a_, false);
        }
        return {ModalResult::OK, *key};
    }
    PromptResult AskSaveDocument(const std::string&, bool) override { return {}; }
    void ShowStatusNotice(const std::string&) override {}
    bool AskYesNo(const std::string& message) override {
        question_ = message;
        return false;
    }
    void ShowMessage(const std::string& message) override {
        if (message == Format(kWrongKey, path_)) {
            wrong_ = true;
            return;
        }
        std::fprintf(stderr, "velloran-cli: %s\n", message.c_str());
    }

    // The last question answered No, to say why a save did not go on.
    const std::string& Question() const { return question_; }

    ~CommandLineDialogs() override {
        for (auto* key : {&cipherKey_, &sealKey_}) {
            if (*key) {
                Wipe(**key);
            }
        }
    }

  private:
    const Arguments& a_;
    std::string path_;
    std::optional<std::string> cipherKey_;
    std::optional<std::string> sealKey_;
    bool wrong_ = false;
    int tries_ = 0;
    std::string question_;
};

// One row a line: line breaks, tabs and backslashes written as escapes.
std::string OneLine(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string Counted(std::size_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

void Write(std::string_view text) {
    OutputFile out(STDOUT_FILENO);
    out.Write(text);
    if (!out.Flush()) {
        throw Error(Format(kUnableToWrite, "standard output"));
    }
}

// Replaces in one document, or shows what it would replace; adds its object to json when given.
void ReplaceIn(const Arguments& a, const std::string& path, bool several,
               CommandLineDialogs& dialogs, JsonWriter* json) {
    const std::size_t files = a.operands.size() - 2;
    if (ProtectionOfName(path) == Protection::Enciphered && a.keySource == KeySource::None) {
        throw UsageError(path +
                         " is enciphered: give --key, --key-fd or --key-file to replace in its "
                         "text");
    }
    ResetState();
    State& st = state();
    PlainSlots sections;
    PlainList list;
    DocumentBuffer buffer;
    Session s{st, sections, list, buffer, dialogs};
    dialogs.Document(path);
    st.FileName = path;
    st.EncFileName = EncipheredName(path);
    if (!OpenDocumentFile(s, path)) {
        throw Refusal(Format(kWrongKey, path));
    }
    SplitSections(s);

    const Encoding encoding = st.DocumentEncoding;
    const TextForm text(a.utf8, encoding);
    const std::string patternText = text.In(a.operands[files], "PATTERN");
    const std::string replacementText = text.In(a.operands[files + 1], "REPLACEMENT");
    std::optional<Pattern> pattern;
    std::optional<Replacement> replacement;
    try {
        pattern.emplace(patternText, FindOptions{a.matchCase, a.wholeWords, a.regex}, encoding);
        replacement.emplace(replacementText, *pattern);
    } catch (const Error& e) {
        throw UsageError(e.what());
    }
    const ReplacePlan plan =
        PlanReplacement(sections, list, st.LastSection, *pattern, *replacement);
    std::size_t leftOut = 0;
    for (const ReplaceRow& row : plan.rows) {
        leftOut += row.checked ? 0 : 1;
    }
    const std::size_t replaced = plan.rows.size() - leftOut;

    if (!a.dryRun && (replaced > 0 || a.output)) {
        ApplyReplacement(s, BuildReplacement(sections, plan));
        if (!(a.output ? SaveDocumentAs(s, *a.output) : SaveDocument(s))) {
            throw Refusal(Format(kUnableToWrite, a.output ? *a.output : path) + ": " +
                          dialogs.Question() + " (answered No)");
        }
    }

    if (json) {
        json->BeginObject().Key("file").String(text.ForJson(path));
        json->Key("dryRun").Bool(a.dryRun);
        json->Key("matches").Number(plan.rows.size());
        json->Key("replaced").Number(a.dryRun ? 0 : replaced);
        json->Key("sections").BeginArray();
        for (std::size_t k = 0; k < plan.counts.size(); ++k) {
            if (plan.counts[k] == 0) {
                continue;
            }
            json->BeginObject().Key("index").Number(k);
            json->Key("title").String(text.ForJson(plan.titles[k]));
            json->Key("count").Number(plan.counts[k]).EndObject();
        }
        json->EndArray().Key("rows").BeginArray();
        for (const ReplaceRow& r : plan.rows) {
            json->BeginObject().Key("section").Number(static_cast<std::size_t>(r.section));
            json->Key("line").Number(r.line).Key("column").Number(r.column);
            json->Key("before").String(text.ForJson(r.before));
            json->Key("old").String(text.ForJson(r.oldText));
            json->Key("new").String(text.ForJson(r.newText));
            json->Key("after").String(text.ForJson(r.after));
            json->Key("changesSections").Bool(r.changesSections);
            json->Key("replaced").Bool(!a.dryRun && r.checked).EndObject();
        }
        json->EndArray().EndObject();
    } else {
        std::string out;
        if (several) {
            out += "==> " + path + " <==\n";
        }
        if (a.dryRun) {
            for (const ReplaceRow& r : plan.rows) {
                out += std::to_string(r.section) + ":" + std::to_string(r.line) + ":" +
                       std::to_string(r.column) + "\t" + text.Out(OneLine(r.oldText)) + "\t" +
                       text.Out(OneLine(r.newText));
                out += r.checked ? "\n" : "\t(left out: makes or unmakes a section marker line)\n";
            }
            out += plan.rows.empty() ? "" : "\n";
            for (std::size_t k = 0; k < plan.counts.size(); ++k) {
                if (plan.counts[k] > 0) {
                    out +=
                        std::to_string(plan.counts[k]) + "    " + text.Out(plan.titles[k]) + "\n";
                }
            }
        }
        out += Counted(plan.rows.size(), "match", "matches") + " in " +
               Counted(plan.SectionsWithMatches(), "section", "sections") + ", " +
               std::to_string(a.dryRun ? 0 : replaced) + " replaced\n";
        Write(out);
    }
    if (leftOut > 0 && !a.dryRun) {
        std::fprintf(stderr,
                     "velloran-cli: %s: %s left as %s: replacing %s would make or unmake a "
                     "section marker line\n",
                     path.c_str(), Counted(leftOut, "match", "matches").c_str(),
                     leftOut == 1 ? "it is" : "they are", leftOut == 1 ? "it" : "them");
    }
}

}  // namespace

int Replace(const Arguments& a) {
    const std::size_t files = a.operands.size() - 2;
    if (a.output && files > 1) {
        throw UsageError("-o takes one FILE; several are each replaced where they are");
    }
    for (std::size_t i = files; i < a.operands.size(); ++i) {
        // Said before a sealed document asks for its key.
        if (a.utf8 && !IsUtf8(a.operands[i])) {
            throw UsageError(std::string(i == files ? "PATTERN" : "REPLACEMENT") +
                             " is not valid UTF-8");
        }
    }
    CommandLineDialogs dialogs(a);
    JsonWriter json;
    if (a.json) {
        json.BeginObject().Key("documents").BeginArray();
    }
    for (std::size_t i = 0; i < files; ++i) {
        ReplaceIn(a, a.operands[i], files > 1, dialogs, a.json ? &json : nullptr);
    }
    if (a.json) {
        json.EndArray().EndObject();
        Write(json.Text() + "\n");
    }
    return 0;
}

}  // namespace velloran::cli
