#include "ui/tools/HelpWindow.h"
#include "ui/document/TextArea.h"
#include "ui/platform/Geometry.h"

#include <QFont>
#include <QVBoxLayout>

namespace {

const char kHelpText[] = R"help(VELLORAN EDITOR

Sectioned documents
A document is one plain text file, divided into sections. A section begins at a line that starts with the marker [S] (a lower-case [s] works too). The marker must stand at the very start of the line, and the line must be at least six characters long, so put a title after it, for example "[S] Chapter one". Everything before the first marker is section 0, the preamble. A document holds up to 50 marked sections; a 51st marker line stays ordinary text of the last section.

A document is read as UTF-8 when its bytes are valid UTF-8 with a character beyond ASCII (a leading byte-order mark is kept), as Windows-1252, the code page of documents made on Windows, when they hold any other byte above 127, and in your locale's character set when they are plain ASCII or the document is new; this never changes a byte, and Reload and Decript decide it again.

The left window lists the sections by their title lines; the first entry is the first line of the document. Click an entry, or move through the list with the arrow keys, to show that section in the document window. Each section has its own editor, with its own undo, caret and scroll position. Closing the document window only hides it; a click in the section list brings it back.

Which document is opened
1. A document named on the command line, if that file exists.
2. Otherwise Velloran.vlp in the current folder.
3. Otherwise Velloran.vle in the current folder (an enciphered document: the key is asked for at once).
4. Otherwise an open-file dialog showing "Velloran Files (*.v??)". If you cancel it, you start with an empty document that will be saved as Velloran.vlp.
File > New File opens another document in a second editor window of its own; this window and its document stay as they are.

Saving
F1 saves at once under the current name, without a question. When another program has changed the file since it was opened or saved here, its changes are merged first (see "Changes on disk"); only a version that cannot be read with the key in use makes it ask whether to overwrite that version, and else offers to save under a new name.
File > Save File - F1 opens the Save Document dialog with the current name in its field. Change the name to save under another name, then press "Save Document"; "Do Not Save" saves nothing.
After a save a small Status window shows the saved path for two seconds.
When you close the list window (its close box or File > Exit) and there are unsaved changes, the Save Document dialog asks first: "Save Document" saves and ends the program, "Do Not Save" ends it without saving, "Do Not Exit" (or Esc) keeps the program open. If the save fails, the program stays open and asks again at the next close.
Enter never presses a button in these dialogs; use the mouse, Tab and Space, or Esc.

Recovery after a crash
While the document has unsaved changes, the editor keeps a recovery record of them: a second after you stop typing, and at least every five seconds while you go on. If the editor, the desktop or the machine stops before you save, the next start on the same document asks "Unsaved changes to ... from ... were found. Recover them?". "Yes" brings back the text of every section, the section list, the panels and the name to save under, as they were and still unsaved: press F1 to save them. "No" sets the record aside for 30 days and does not ask again.
The records are kept in ~/.local/state/velloran/recovery (or $XDG_STATE_HOME/velloran/recovery), which only you may read; records set aside go to its folder "discarded". A record goes away when you save, when you close the editor (with or without saving), and whenever the document has no unsaved changes.
The record of a sealed (.vls) or enciphered (.vle) document is encrypted, with the document's key or with a key made from the typed key; it never holds the text in the clear, and it is only kept once the key was given. Recovering it asks for the key; a wrong key is told and asked again, and "Cancel" keeps the record for the next start.
A damaged record is never used in part: you are told, and it is kept for inspection for 30 days in the folder "damaged".
If another window of the editor already has the document open, the start says so, with that window's process number, and asks whether to open it here anyway: what is saved in one window would overwrite what is saved in the other. "No" ends the new window.
If the editor stops in the middle of a save, the next start puts the previous version of the file back, and tells you.

Backups
Set in View > Parameters - F2, under Backups:
- Backup Previous Edit: the first save of the run first copies the file as it was on disk to NAME-prev.EXT (for example June-prev.vlp). Only the first save does this, until the settings are confirmed again.
- Backup Current Edit: every save also writes a second copy of the new text to NAME-copy.EXT.
- The up/down arrows choose where the copies go: the document's own folder; a sub-folder of the document's folder with the name in Backup Folder (created when missing); or the Backup Folder exactly as typed, as a full path. Backups that cannot be made are skipped without a message; the document itself is still saved.

Sealing and enciphering
There are two ways to keep a document from other eyes, and only the first one protects it.

Sealed documents (.vls)
A document whose name ends in .vls is sealed: it is encrypted, with a key made from a passphrase that you type. Without the passphrase nobody can read it or change it unnoticed. The passphrase is stored nowhere: if you forget it, the text cannot be recovered, by you or by anyone else.
To seal a document, save it under a name ending in .vls (File > Save File - F1, then change the name). Every save of a sealed document shows the key prompt ("Encript Key"): type the passphrase (any characters) and press "Do Encript". "Cancel" saves with the passphrase in use; before one was given, nothing is saved. A passphrase different from the one in use is confirmed first. An empty passphrase is not accepted.
Opening a sealed document (at start, in a window started by New File, or with File > Decript, which reads it again from its file) asks for the passphrase. A wrong one is reported ("Wrong key for ...") and asked for again, until it is right or you press "Cancel". A file that was changed or cut short is reported as damaged and is not opened at all.
When a sealed document was not opened, its sections stay empty, and a save asks before it replaces the file with them (the answer proposed is No).
Saving a sealed document under a name that does not end in .vls asks first, because the text would then be written without encryption. Backup copies of a sealed document are sealed too.

Enciphered documents (.vle)
This older form only scrambles the text with a key that you type. It keeps a casual reader out, but anyone determined can undo it without the key, and a wrong key is not noticed: it gives unreadable text. Use it only for documents that were enciphered before; seal everything else.
File > Save Encript asks for the key ("Do Encript" confirms, "Cancel" or Esc cancels) and saves the document under its name with the extension .vle, for example June.vle; the plain June.vlp is left as it was. From then on every save enciphers and asks for the key again. "Cancel" at that prompt keeps the key in use. If you type a key different from the one in use, you are asked to confirm before the document is saved with it. The key is never stored anywhere.
A document whose name ends in .vle is deciphered when it is opened, after the key prompt. There is no check that a key is right: a wrong key gives unreadable text. Do not save that text: close the editor and open the document again with the right key.
File > Decript deciphers the text as it was last read, saved or reloaded, with a key you type, and shows it again. If you have unsaved changes, you are asked first whether to discard them.

Changes on disk
When the document's file changes on disk while the editor runs (a sync tool such as Syncthing, Nextcloud or Dropbox brings your other machine's edits, or another program saves it), the editor notices within two seconds. A file that was only touched, or written again as it was, is no change.
Without unsaved changes here, the document is read again: each changed section's editor takes the new text as one step that Ctrl+Z undoes, the section list follows, and a notice says which sections changed.
With unsaved changes here, the change is merged with them, section by section, from the text as last read or saved. Sections added, removed or moved on either side are followed. A section changed on one side only takes that side; one changed on both sides is merged line by line. Where both changed the same lines, both versions are kept, yours first, between marker lines:
<<<<<<< as changed here
(your lines)
=======
(the lines on disk)
>>>>>>> as changed on disk
A title changed on both sides keeps yours; the other stands after a blank inside such a block, so that it opens no section. Search for <<<<<<< (F3) to find each place, keep what should stay and delete the marker lines. Sections holding both versions are shown in bold red in the list until you edit them. The result stays unsaved; in each editor Ctrl+Z undoes the merge in one step. The "Merged" window lists what was merged and where the conflicts are; click a line to show its section.
A save after a change on disk that was not merged yet merges it first, and saves at once when nothing conflicts; when something does, nothing is saved until you have looked at it and save again.
Copies that sync tools make when a document changed in two places at once (June.sync-conflict-20260101-120000-ABCDEF7.vlp, "June (conflicted copy ...).vlp", "June (Conflict ...).vlp") are offered for merging at start and whenever one appears, when they are files of your own (never a link, nor a file another user put there). A merged copy is kept in the document's history and moved to the trash, where a file manager can put it back; it is never deleted.
On the command line, velloran-cli merge BASE OURS THEIRS merges three versions the same way; it can serve git as a merge driver (see man velloran-cli).

Editing and sections
Type in a section as in any plain text editor. Ctrl+Z undoes, Ctrl+X cuts, Ctrl+C copies, Ctrl+V pastes. Shift+Enter starts a new line like Enter. A UTF-8 document holds every character; in a Windows-1252 document, characters it cannot hold are turned into "?" as you type or paste them.
To add a section, type a new marker line. To move a section, cut its marker line and its text and paste them where they belong, even into another section. To remove a section, delete its marker line (its text then joins the section before it).
File > Reload then cuts the text into sections again and renews the section list. Reload does not read the file again; it uses the text in the editors, and the result counts as an unsaved change.
View > Word Wrap switches line wrapping on and off for all editors. Lines wrap between words; a section holding a run of 16 KiB or more without a blank (a pasted blob, a generated line) wraps anywhere instead, which keeps such a line quick to show.

Spelling
As you type, a word the dictionary does not know gets a red wavy underline; the word you are typing is marked only once the caret leaves it. The marks change nothing in the text. Right-click a marked word for up to eight suggestions (a click replaces the word; Ctrl+Z undoes it), "Add to Dictionary", which keeps the word for every document from now on, in ~/.local/share/velloran/words (one word a line, which you may edit), and "Ignore", which accepts it until the editor ends. Numbers, words with digits, words in capitals alone, web and e-mail addresses and the [S] of a marker line are not checked.
View > Spelling lists the installed dictionaries (the hunspell-* packages, in /usr/share/hunspell, or your own in ~/.local/share/hunspell) and "Check Spelling", which turns checking on or off. At first the dictionary of your language (LANG) is chosen, or else the first one installed; your choice is kept in ~/.config/velloran/spelling.ini. Without any dictionary "Check Spelling" is not available: install hunspell-en-us or the package for your language. Only the text on screen is checked, so long documents stay quick.

Search and Search All
View > Search - F3 opens the search window. Type a text in its field.
"Search" finds the next occurrence in the current section (the one last selected in the list, or the editor you last clicked) and selects it, so that a paste replaces it. Press "Search" again for the next one. With nothing selected the search starts at the caret, so a match right there, even at the very start of the section, is found. The search stays inside the section and never moves to another one; when nothing more is found, nothing is selected.
"Search All" counts the occurrences in every section and lists each count with the section's title. Click a row to show that section.
Both ignore the difference between upper and lower case for the letters A to Z only.

Find and replace
"Replace…" in the search window, or Ctrl+H there, opens the replace fields under the buttons; the search field holds what to find, "Replace with" what to put in its place. "Match case" makes upper and lower case differ, "Whole words" finds whole words only, and "Regular expression" reads the search text as a regular expression (PCRE2), whose replacement may bring back what it matched as $1, ${name} or $& ($$ for a $, \n for a line break, \t for a tab).
"Replace" (or Enter in "Replace with") replaces the selected match, if one is selected, and selects the next one in the section. "Replace All in Section" replaces every match in the current section at once. "Replace All in Document" first shows a preview of every match in the document, with its section, line, text, replacement and the text around it: untick a match to leave it as it is, then press "Replace" ("Cancel" replaces nothing). A replacement that would make or unmake a marker line, and so change the sections, is shown as "Changes the sections:" and left unticked; Replace All in Section leaves it out. Each Replace All is one step: "Undo Replace All" in the search window, Ctrl+Z there right after it, or Edit > Undo Replace All puts every section back as it was. "velloran-cli replace" replaces in the same way from the command line.

Two panels
Panels > 1 Panel - F5 shows one section.
Panels > 2 H Panel - F6 shows two sections, one above the other.
Panels > 2 V Panel - F7 shows two sections side by side.
With one panel, the section shown before the last one you chose is kept ready for the second pane. With two panes, the first pane keeps its section and choosing another section in the list shows it in the second pane. Click into a pane to make it the one that Search works in.

File Parameters
View > Parameters - F2 opens the File Parameters dialog: the editor font (Arial, Courier or Times), its size (6 to 14), word wrap, and the backup options above. "Use" applies them for this run, "SAVE" also stores them, together with the current sizes and positions of the windows, in the settings file QMV.ini in your configuration folder, and "Cancel" changes nothing.

Statistics
View > Statistics lists for every section the number of lines, words and characters, and the totals. Words are separated by blanks only; line breaks are not counted as characters; a long line shown wrapped counts as one line. The report is plain text that you can copy; it is made again each time the window is opened.

Progress
View > Progress shows how much you wrote: today's words against your daily goal, with a bar, the words of each of the last 30 days as a chart (the days that met the goal in full colour; point at a bar for its date and words), the streak of days in a row that met the goal, and the words added today to each section. Set the goal in "Daily goal" ("Off" for none); it is kept in ~/.config/velloran/progress.ini (or $XDG_CONFIG_HOME/velloran/progress.ini), not in QMV.ini.
The editor keeps a progress log of each document for this: every time the document is opened, saved, or recorded for recovery, it notes the words of every section, counted as the statistics count them. Today's words are the words now less those at the first opening or save of the day, never below zero: deleting is editing too. A day starts at 04:00, so that a night's writing counts for the evening (DayStart= in progress.ini chooses another hour). A section keeps its words when its title changes; a new section brings all of its words.
The logs are kept in ~/.local/state/velloran/progress (or $XDG_STATE_HOME/velloran/progress), which only you may read; a log follows its document when you save it under another name, and when another program renamed or moved it. The log of a sealed (.vls) or enciphered (.vle) document is encrypted like its recovery records, since its counts and titles are text too, and is only kept once the document has its key. "velloran-cli progress" gives the same figures for scripts.

History
The editor keeps the versions of the document in its history: whenever it is opened, saved or reloaded, changes on disk or is merged. View > History shows the versions of the current section in which it changed, newest first, with their time, event, words and the words changed; to see another section's, right-click its title in the section list (or press the Menu key) and choose "History of this section". Choose a version to compare it with the section now: the version on the left, its words that have gone struck out, the section now on the right, the words that came underlined, and below them how many words changed and which other sections differ from that version.
"Restore this section" puts the chosen version's text back in the section, "Restore whole document" puts back the whole document as it was then; either is one step that "Undo Restore" takes back, and the document stays unsaved until you save.
The history is kept in ~/.local/state/velloran/history (or $XDG_STATE_HOME/velloran/history), which only you may read; that of a sealed (.vls) or enciphered (.vle) document is encrypted like its recovery records. ~/.config/velloran/history.ini chooses whether it is kept at all (Keep=0 for none) and how large it may grow before its oldest versions are thinned (BudgetTimes, LeastBudgetMiB). "velloran-cli history" lists the versions, compares them and writes one out.

Export, print and import
File > Export… opens the Export dialog. Choose the Format (DOCX for word processors, ODT for LibreOffice, EPUB for ebook readers, PDF, HTML, Markdown or Plain text; where pandoc is installed also RTF, LaTeX, AsciiDoc, reStructuredText, Org and MediaWiki, which pandoc writes from the Markdown export), the Preset ("Standard manuscript", "Reading copy" or "Ebook"), where Paragraphs end ("At blank lines" or "At every line break"), a Title instead of section 0's first line, for EPUB a Cover image (JPEG or PNG), and tick the Sections to export. "Export…" then asks for the file, named after the document with the format's extension; section 0 becomes the title page and every other section a chapter headed by its title. A bar shows how far the export is, and "Cancel" stops it. The choices are remembered for each document in ~/.config/velloran/export.ini, whose section [Export] also holds your name and contact lines for the title page (Author, Surname, Contact1 to Contact6).
File > Print… prints the same pages as the PDF: choose the printer, then a preview shows every page before it is printed.
An export or a print holds the text in the clear: for a sealed or enciphered document you are asked first whether to go on.
File > Import… makes a new document from a word processor's file (.docx, .odt, Markdown or .txt): choose the file, then the name of the new document; that dialog asks before it writes over a file. Each heading of the top level in use opens a section, at most 50; what needs telling (no headings, headings after the fiftieth, lines that would have opened a section) is said, and the new document opens in a window of its own, as New File opens one. "velloran-cli export" and "velloran-cli import" do the same from the command line.

Keys
The function keys work in the section list and in every editor; Shift, Ctrl and Alt make no difference to them.
F1  Save at once (the key prompt still appears for a sealed or enciphered document; a change on disk is merged first)
F2  File Parameters
F3  Search window
F4  This help
F5  One panel
F6  Two panels, one above the other
F7  Two panels side by side
F8  From the section list to the text of the section shown, and back
F11  The document window over the whole screen, and back (View > Full Screen)
In an editor, Shift+Page Up shows the previous section and Shift+Page Down the next one, counted from the section in the first pane. Whenever the section you are typing in is hidden, by a step, a click in the list or the search results, a panel key, Reload or Decript, the keys stay with the document window, where typing does nothing and never reaches a hidden section: click into a section that is shown to type or step again. The function keys keep working there.
Esc cancels the key prompt, and in the Save Document dialog presses "Do Not Exit" when that button is shown; it closes the search, statistics, Progress, help and "Merged" windows, and cancels File Parameters.
The function keys work from the search, statistics, Progress, help and "Merged" windows too.
Alt+F opens the File menu, Alt+E the Edit menu, Alt+V the View menu, Alt+P the Panels menu, and F10 the menu bar, from the section list; the arrow keys then move through the menus. Tab and Shift+Tab move between the fields and buttons of every window and dialog.
Ctrl++ makes the text of the editors larger, Ctrl+- smaller and Ctrl+0 brings it back to the size set in File Parameters (View > Zoom In, Zoom Out, Normal Size).

Dark page and full screen
View > Dark Page shows the section list and the editors with light text on a dark page: the desktop's own colours when its theme is dark, else a deep shade of each section's colour. View > Full Screen (F11) puts the document window over the whole screen; F11 again brings it back where it was. The dark page and the zoom are kept in ~/.config/velloran/view.ini (or $XDG_CONFIG_HOME/velloran/view.ini), not in QMV.ini, whose font and window sizes stay as File Parameters saved them.

Screen readers
Every window, field and button has a name that a screen reader (Orca) tells; each editor is named for its section, "Section 3: Chapter Three", and misspelled words are told as misspelled.
)help";

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TForm5"));
    setWindowTitle(QStringLiteral("Help"));
    velloran::ui::PlaceOuter(this, QRect(303, 329, 493, 560));

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);

    Memo1 = new TextArea(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Help text"));
    Memo1->setFont(font);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(HelpText());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
}

QString HelpWindow::HelpText() {
    return QString::fromUtf8(kHelpText);
}

void HelpWindow::ShowAt(const QWidget* beside) {
    velloran::ui::ShowAtRightEdgeOf(this, beside);
}
