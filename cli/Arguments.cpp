#include "cli/Arguments.h"

#include <charconv>

namespace velloran::cli {
namespace {

enum Option : unsigned {
    kJson = 1 << 0,
    kCrlf = 1 << 1,
    kNumbered = 1 << 2,
    kOutput = 1 << 3,
    kDays = 1 << 4,
    kLang = 1 << 5,
    kTo = 1 << 6,
    kPreset = 1 << 7,
    kSections = 1 << 8,
    kParagraphs = 1 << 9,
    kLevel = 1 << 10,
    kForce = 1 << 11,
    kClear = 1 << 12,
    kFind = 1 << 13,
    kCover = 1 << 14,
};

constexpr int kMostDays = 3660;

struct Command {
    std::string_view name;
    std::string_view operands;
    std::size_t operandCount;
    unsigned options;
    // The first operand may be given more than once (several FILEs).
    bool repeats = false;
};

constexpr Command kCommands[] = {
    {"stats", "FILE", 1, kJson | kCrlf},
    {"titles", "FILE", 1, kJson | kNumbered},
    {"count", "TEXT FILE", 2, kJson},
    {"show", "FILE K", 2, 0},
    {"check", "FILE", 1, kJson},
    {"decipher", "FILE", 1, kOutput},
    {"encipher", "FILE", 1, kOutput},
    {"seal", "FILE", 1, kOutput},
    {"unseal", "FILE", 1, kOutput},
    {"merge", "BASE OURS THEIRS", 3, kJson | kOutput},
    {"progress", "FILE", 1, kJson | kDays},
    {"spell", "FILE", 1, kJson | kLang},
    {"replace", "FILE... PATTERN REPLACEMENT", 3, kJson | kOutput | kFind, true},
    {"history", "FILE", 1, kJson | kOutput},
    {"export", "FILE", 1, kOutput | kTo | kPreset | kSections | kParagraphs | kClear | kCover},
    {"import", "FILE", 1, kOutput | kLevel | kForce},
};

const Command* FindCommand(std::string_view name) {
    for (const Command& c : kCommands) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

constexpr std::string_view kKeyNotAnArgument =
    "a key is never taken from the command line, where other users can read it: give --key "
    "to type it, --key-fd N or --key-file FILE";

void SetKeySource(Arguments& a, KeySource source) {
    if (a.keySource != KeySource::None && a.keySource != source) {
        throw UsageError("give the key one way only: --key, --key-fd or --key-file");
    }
    a.keySource = source;
}

int Days(std::string_view text) {
    int days = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    if (error != std::errc() || end != text.data() + text.size() || days < 1 || days > kMostDays) {
        throw UsageError("--days takes a number of days from 1 to " + std::to_string(kMostDays) +
                         ", not '" + std::string(text) + "'");
    }
    return days;
}

int Descriptor(std::string_view text) {
    int fd = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fd);
    if (error != std::errc() || end != text.data() + text.size() || fd < 0) {
        throw UsageError("--key-fd takes a file descriptor number, not '" + std::string(text) +
                         "'");
    }
    return fd;
}

void Check(const Arguments& a) {
    if (a.command.empty()) {
        throw UsageError("no command given");
    }
    const Command* c = FindCommand(a.command);
    if (!c) {
        throw UsageError("unknown command '" + a.command + "'");
    }
    if (a.command != "history" && (a.show || a.section || a.diff || a.keep)) {
        throw UsageError("--show, --section, --diff and --keep apply to history");
    }
    // --diff N M and --keep N NAME take one more.
    const std::size_t more = a.diff || a.keep ? 1 : 0;
    if (a.operands.size() < c->operandCount ||
        (a.operands.size() > c->operandCount + more && !c->repeats)) {
        throw UsageError(std::string(a.operands.size() < c->operandCount ? "missing" : "too many") +
                         " arguments: velloran-cli " + a.command + " " + std::string(c->operands));
    }
    const std::pair<bool, Option> given[] = {{a.json, kJson},
                                             {a.crlf, kCrlf},
                                             {a.numbered, kNumbered},
                                             {a.output.has_value(), kOutput},
                                             {a.daysGiven, kDays},
                                             {a.language.has_value(), kLang},
                                             {a.to.has_value(), kTo},
                                             {a.preset.has_value(), kPreset},
                                             {a.sections.has_value(), kSections},
                                             {a.paragraphs.has_value(), kParagraphs},
                                             {a.level.has_value(), kLevel},
                                             {a.force, kForce},
                                             {a.clear, kClear},
                                             {a.cover.has_value(), kCover},
                                             {a.regex, kFind},
                                             {a.matchCase, kFind},
                                             {a.wholeWords, kFind},
                                             {a.dryRun, kFind}};
    static constexpr std::string_view kNames[] = {
        "--json",  "--crlf",   "-n",         "-o",           "--days",  "--lang",
        "--to",    "--preset", "--sections", "--paragraphs", "--level", "--force",
        "--clear", "--cover",  "--regex",    "--case",       "--word",  "--dry-run"};
    for (std::size_t i = 0; i < std::size(given); ++i) {
        if (given[i].first && !(c->options & given[i].second)) {
            throw UsageError(std::string(kNames[i]) + " does not apply to " + a.command);
        }
    }
    if (a.command == "export" && !a.to) {
        throw UsageError("export needs --to FORMAT: docx, odt, epub, pdf, html, md or txt");
    }
    if (a.command == "import" && !a.output) {
        throw UsageError("import needs -o BOOK.vlp, the new document");
    }
}

int Level(std::string_view text) {
    int level = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), level);
    if (error != std::errc() || end != text.data() + text.size() || level < 1 || level > 9) {
        throw UsageError("--level takes a heading level from 1 to 9, not '" + std::string(text) +
                         "'");
    }
    return level;
}

}  // namespace

Arguments ParseArguments(std::span<const char* const> args) {
    Arguments a;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        // The value of an option, given after "=" or as the next argument.
        auto value = [&](std::string_view name) -> std::string {
            if (arg.size() > name.size() && arg[name.size()] == '=') {
                return std::string(arg.substr(name.size() + 1));
            }
            if (i + 1 >= args.size()) {
                throw UsageError(std::string(name) + " needs a value");
            }
            return args[++i];
        };
        auto is = [&](std::string_view name) {
            return arg == name ||
                   (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
        };
        if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
            if (a.command.empty() && !optionsEnded) {
                a.command = arg;
            } else {
                a.operands.emplace_back(arg);
            }
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            a.help = true;
        } else if (arg == "--version") {
            a.version = true;
        } else if (arg == "--json") {
            a.json = true;
        } else if (arg == "--crlf") {
            a.crlf = true;
        } else if (arg == "--utf8") {
            a.utf8 = true;
        } else if (arg == "-n") {
            a.numbered = true;
        } else if (arg == "--regex") {
            a.regex = true;
        } else if (arg == "--case") {
            a.matchCase = true;
        } else if (arg == "--word") {
            a.wholeWords = true;
        } else if (arg == "--dry-run") {
            a.dryRun = true;
        } else if (arg == "-o" || is("--output")) {
            a.output = value(arg == "-o" ? "-o" : "--output");
            if (a.output->empty()) {
                throw UsageError("-o needs a file name");
            }
        } else if (is("--days")) {
            a.days = Days(value("--days"));
            a.daysGiven = true;
        } else if (is("--lang")) {
            a.language = value("--lang");
        } else if (is("--show")) {
            a.show = value("--show");
        } else if (is("--section")) {
            a.section = value("--section");
        } else if (is("--diff")) {
            a.diff = value("--diff");
        } else if (is("--keep")) {
            a.keep = value("--keep");
        } else if (is("--to")) {
            a.to = value("--to");
        } else if (is("--preset")) {
            a.preset = value("--preset");
        } else if (is("--cover")) {
            a.cover = value("--cover");
        } else if (is("--sections")) {
            a.sections = value("--sections");
        } else if (is("--paragraphs")) {
            a.paragraphs = value("--paragraphs");
            if (*a.paragraphs != "blank" && *a.paragraphs != "line") {
                throw UsageError(
                    "--paragraphs takes blank (a paragraph runs to a blank line) or "
                    "line (every line is one), not '" +
                    *a.paragraphs + "'");
            }
        } else if (is("--level")) {
            a.level = Level(value("--level"));
        } else if (arg == "--force") {
            a.force = true;
        } else if (arg == "--clear") {
            a.clear = true;
        } else if (arg == "--key") {
            SetKeySource(a, KeySource::Terminal);
        } else if (is("--key-fd")) {
            SetKeySource(a, KeySource::Descriptor);
            a.keyDescriptor = Descriptor(value("--key-fd"));
        } else if (is("--key-file")) {
            SetKeySource(a, KeySource::File);
            a.keyFile = value("--key-file");
        } else if (arg.starts_with("--key")) {
            throw UsageError(std::string(kKeyNotAnArgument));
        } else {
            throw UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (!a.help && !a.version) {
        Check(a);
    }
    return a;
}

std::string UsageText() {
    return R"(Usage: velloran-cli COMMAND [OPTIONS] ARGUMENTS...

Reads Velloran documents by the editor's own rules, without a display.

Commands:
  stats FILE         the statistics report: lines, words and characters per
                     section, as the statistics window shows it
  titles FILE        the section titles, one a line
  count TEXT FILE    the matches of TEXT in each section (letter case of A to Z
                     ignored, overlapping matches counted), as Search All lists
  show FILE K        the text of section K, as a save writes it
  check FILE         what opening FILE in the editor and saving it would change;
                     exit status 1 when a save would change any byte
  decipher FILE      the enciphered document FILE deciphered
  encipher FILE      the document FILE enciphered
  seal FILE          the document FILE sealed, as a .vls document is saved
  unseal FILE        the bytes of the sealed document FILE
  merge BASE OURS THEIRS
                     OURS and THEIRS, both made from BASE, merged section by
                     section, and line by line in a section both changed; where
                     both changed the same lines, both versions are kept between
                     lines "<<<<<<< as changed in ours", "=======" and
                     ">>>>>>> as changed in theirs"; exit status 1 when any
                     remain (a merge driver for git: see the manual page)

  progress FILE      the words written today against the daily goal, the words of
                     each of the last days, the streak of days at the goal and the
                     words added to each section today, from FILE's progress log
  history FILE       the versions of FILE kept in its history: number, time,
                     event, words, the sections changed and the name it is kept
                     under
  history FILE --show N [--section K]
                     the bytes of version N as saved, or of its section K
  history FILE --diff N [M]
                     the words changed from version N to version M (the newest
                     unless given), section by section: in colour on a terminal,
                     otherwise removed as [-words-] and added as {+words+}
  history FILE --keep N NAME
                     keeps version N under NAME, never thinned away
  export FILE --to FORMAT
                     the document as a book in FORMAT: docx, odt, epub, pdf,
                     html, md (Markdown) or txt (the text without the marker
                     lines); section 0 is the title page, each section after it
                     a chapter headed by its title; written to -o OUT, else
                     beside FILE with FORMAT's extension
  import FILE -o BOOK.vlp
                     a .docx, .odt, .md or .txt file made a new document, each
                     heading of a level (--level, else the top one in use)
                     opening a section, at most 50; OUT is never written over
                     unless --force is given
  spell FILE         the misspelled words, each as SECTION:LINE:COLUMN: WORD
                     (the line within its section, the marker line being 1,
                     the column in characters); exit status 1 when any
                     word is misspelled
  replace FILE... PATTERN REPLACEMENT
                     every match of PATTERN replaced with REPLACEMENT in each FILE,
                     each on its own, and the document saved as the editor saves
                     it (sealed or enciphered with its key, its permissions
                     kept); matches are found as Replace All in Document finds
                     them, and one that would make or unmake a section marker
                     line is left out and said

Options:
  --json             stats, titles, count, check, merge, progress, spell, replace,
                     history: one line of JSON for scripts (merge: what became
                     of each section; replace: the matches of each FILE);
                     document text in it is UTF-8
  --crlf             stats: end lines with CR LF, as the statistics window has them
  -n                 titles: put the section's index and a tab before each title
  --utf8             write the text of Windows-1252 documents in UTF-8 (through
                     the table) and read TEXT and keys as UTF-8; without it,
                     text is written and read as the document's bytes; the text
                     of UTF-8 documents is UTF-8 either way
  --regex            replace: PATTERN is a regular expression (PCRE2, with
                     Unicode properties); REPLACEMENT may hold $1, ${1}, \1,
                     ${name} and $& for what the pattern matched, $$ for $,
                     \\ for \, \n for a line break and \t for a tab
  --case             replace: letter case must match; without it, only A to Z
                     ignore their case unless --regex or --word is given, and
                     then every letter does
  --word             replace: only whole words match
  --dry-run          replace: list each match (SECTION:LINE:COLUMN, the text and
                     what would replace it, separated by tabs, line breaks shown
                     as \r and \n) and the matches in each section, and change
                     nothing
  --days N           progress: the last N days, today among them (30 unless
                     given)
  --lang NAME        spell: check with the dictionary NAME (en_US, de_DE, ...)
                     instead of the editor's choice in velloran/spelling.ini
                     or the locale's language
  --preset NAME      export: "Standard manuscript" (the default), "Reading copy"
                     or "Ebook", or the one chosen for FILE in velloran/export.ini
  --sections LIST    export: the sections to export, such as 0,3-7 (all unless
                     given; 0 is the title page)
  --paragraphs blank|line
                     export: a paragraph runs to the next blank line (blank, the
                     default) or every line is one (line)
  --clear            export: write the text of a sealed or enciphered document
                     in clear, as the export formats hold no key
  --cover IMAGE      export --to epub: the ebook's cover, a JPEG or PNG image
                     (else the one chosen for FILE in velloran/export.ini)
  --level N          import: the heading level that opens sections
  --force            import: write over an existing OUT
  -o, --output OUT   decipher, encipher, seal, unseal, merge, export, import,
                     history --show: write OUT, replacing it only once it is
                     complete, instead of standard output; replace: save the one
                     FILE's result as OUT, as Save As does
  --key              ask for the key of an enciphered (.vle) document on the
                     terminal, without echo
  --key-fd N         read the key from file descriptor N: its first line
  --key-file KEYFILE read the key from KEYFILE, a file of your own that no other
                     user may read or change: its first line
  --help             print this text and exit
  --version          print the version and exit

A document is read as UTF-8 when its bytes are valid UTF-8 with a byte above
127, as Windows-1252 when they hold any other byte above 127, and in the
locale's character set when they are ASCII alone, as the editor reads it.

A key is never taken from the command line. decipher, encipher, seal, unseal
and every command on a sealed (.vls) document ask for it on the terminal unless
--key-fd or --key-file is given, and so does progress for a document whose log
is sealed (that of a .vls or .vle document), and so does history for such a
document; the other commands decipher a document named .vle only when a key
option is given. --utf8 applies to the keys of .vle documents; a sealed
document's key is taken as it is given. Write -- before a TEXT, PATTERN or
REPLACEMENT that begins with -. replace needs a key option to replace in an
enciphered document.

Exit status: 0 done; 1 check found what a save would change, merge left
conflicts, spell found a misspelled word, encipher refused the key, or the key
does not open a sealed document, or replace could not save a document without
asking (it changed on disk, or the key deciphers it into other lines); 2 usage
error, an invalid PATTERN or REPLACEMENT among them; 3 input or output error, a
damaged sealed document, or a PATTERN too complex to finish.
)";
}

}  // namespace velloran::cli
