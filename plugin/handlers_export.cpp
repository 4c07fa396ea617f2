// Spreadsheet export handlers: a profile (one row per point, with an axis
// column) or an image (one row per image line) into a named sheet of an .xls
// workbook, loaded first when the file exists.
//
// Everything that can be checked is checked before the file is read or
// written: the sheet's size limits, the label count and that every text is
// UTF-8 (the host's 8-bit text here). A file that exists but is no readable
// workbook, or is encrypted, is refused, never replaced, and a save that
// fails is reported; the workbook is written to a new file and renamed over
// the old one, so the old file survives any failure whole (where it must be
// written in place, to keep its owner or links, a failure names the whole
// copy). A file this user may not write is refused. Exports of one file
// take turns, each holding a lock on it from loading to saving; a new
// workbook another export put in place meanwhile is loaded and the sheet
// added to it.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/sdk/host_string.h"
#include "host/sdk/image_ref.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/image_bridge.h"
#include "plugin/streams.h"
#include "plugin/utf8_text.h"
#include "file_replace/file_lock.h"
#include "file_replace/target.h"
#include "workbook/biff_string.h"
#include "workbook/xls_document.h"

namespace {

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;
using FileReplace::FileLock;
using FileReplace::Outcome;

// Rows 0 and 1 hold the title and the labels; data starts in row 2.
constexpr size_t kFirstDataRow = 2;
constexpr size_t kMaxDataRows = XlsSheet::MaxRows - kFirstDataRow;  // 65534
constexpr size_t kMaxColumns = XlsSheet::MaxColumns;                // 256
// The labels row also gets the clearing write after the last word.
constexpr size_t kMaxLabelWords = kMaxColumns - 1;                              // 255
constexpr size_t kMaxCellText = CompoundFiles::XlsBiff::BiffString::MaxLength;  // 65535

enum class Layout { Profile, Image };

struct Export {
    const char* function;
    LinkImage* image;
    std::string file;
    std::string labels;
    float step;
    std::string title;
    std::string sheet;
    Layout layout;
};

std::string Text(LinkString* string) { return host_string::Borrow(string).ToStdString(0); }

[[noreturn]] void Refuse(const char* function, const std::string& problem) {
    throw std::invalid_argument(std::string(function) + ": " + problem);
}

// A script text for the workbook: ASCII stays 8-bit, anything else is
// stored as UTF-16 so that readers show the characters the script wrote.
struct CellText {
    std::string narrow;
    std::wstring wide;
    bool ascii = true;
};

// Throws, naming the first bad byte, when a text beyond ASCII is not UTF-8.
CellText Decoded(const char* function, const char* what, const std::string& text) {
    CellText t;
    t.narrow = text;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) t.ascii = false;
    if (t.ascii) return t;
    std::size_t bad = 0;
    if (!orvan::DecodeUtf8(text, t.wide, bad)) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(text[bad])));
        Refuse(function, std::string("the ") + what + " is not UTF-8 text (byte " + byte + " at offset " +
                             std::to_string(bad) + ")");
    }
    return t;
}

std::size_t Utf16Size(const CellText& t) { return t.ascii ? t.narrow.size() : orvan::Utf16Length(t.wide); }

void SetCellText(SheetCell& cell, const CellText& t) {
    if (t.ascii)
        cell.SetText(t.narrow.c_str());
    else
        cell.SetWideText(t.wide.c_str());
}

std::vector<std::string> Words(const std::string& labels) {
    std::istringstream in(labels);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

void CheckLimits(const Export& e, size_t width, size_t height, size_t words) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    if (e.layout == Layout::Profile) {
        if (width > kMaxDataRows)
            Refuse(e.function, "a profile " + w + " points long does not fit a sheet (at most " +
                                   std::to_string(kMaxDataRows) + " rows of data)");
        if (height > kMaxColumns - 1)
            Refuse(e.function, "a profile image " + h + " lines high does not fit a sheet (at most " +
                                   std::to_string(kMaxColumns - 1) + " data columns beside the axis)");
    } else {
        if (width > kMaxColumns)
            Refuse(e.function, "an image " + w + " pixels wide does not fit a sheet (at most " +
                                   std::to_string(kMaxColumns) + " columns)");
        if (height > kMaxDataRows)
            Refuse(e.function, "an image " + h + " pixels high does not fit a sheet (at most " +
                                   std::to_string(kMaxDataRows) + " rows of data)");
    }
    if (words > kMaxLabelWords)
        Refuse(e.function, std::to_string(words) + " label words do not fit a sheet row (at most " +
                               std::to_string(kMaxLabelWords) + ")");
}

[[noreturn]] void NotARegularFile(const Export& e, mode_t mode) {
    const char* kind = S_ISDIR(mode)                      ? "a folder, "
                       : S_ISFIFO(mode)                   ? "a FIFO, "
                       : S_ISSOCK(mode)                   ? "a socket, "
                       : (S_ISCHR(mode) || S_ISBLK(mode)) ? "a device, "
                                                          : "";
    Refuse(e.function, "\"" + e.file + "\" is " + kind + "not a regular file; it was left unchanged");
}

[[noreturn]] void NotWritable(const Export& e, int error) {
    if (error == EROFS) Refuse(e.function, "\"" + e.file + "\" is on a read-only file system; it was left unchanged");
    Refuse(e.function, "\"" + e.file + "\" is not writable for this user; it was left unchanged");
}

void LoadWorkbook(const Export& e, XlsDocument& document) {
    if (document.Load(e.file.c_str())) return;
    if (document.LastLoadFailure() == XlsDocument::LoadFailure::Encrypted)
        Refuse(e.function, "\"" + e.file + "\" is an encrypted workbook, which cannot be read; it was left unchanged");
    Refuse(e.function, "\"" + e.file + "\" exists but is not a readable workbook; it was left unchanged");
}

// A save that failed, or a file refused before it was read, with the cause
// where the system gave one.
[[noreturn]] void Failed(const Export& e, const Outcome& outcome) {
    const std::string cause = FileReplace::NamedCause(outcome);
    switch (outcome.failure) {
        case Outcome::Failure::DanglingLink:
            Refuse(e.function, "\"" + e.file + "\" is a symbolic link that names no file; it was left unchanged");
        case Outcome::Failure::NotRegular: NotARegularFile(e, outcome.kind);
        case Outcome::Failure::NotWritable: NotWritable(e, outcome.error);
        case Outcome::Failure::CopyFailed:
            throw std::runtime_error(std::string(e.function) + ": could not write all of \"" + e.file + "\"" +
                                     (cause.empty() ? "" : " (" + cause + ")") +
                                     ", which may be damaged; the whole new workbook is in \"" + outcome.keptCopy +
                                     "\"");
        case Outcome::Failure::None:
        case Outcome::Failure::NameTaken:
        case Outcome::Failure::Failed: break;
    }
    // Where no file was, none was made: there is nothing to have kept.
    throw std::runtime_error(std::string(e.function) + ": could not write \"" + e.file + "\"" +
                             (cause.empty() ? "" : ": " + cause) +
                             (outcome.nothingThere ? "" : "; the file was left as it was"));
}

// Only a missing (or empty) file starts a new workbook; anything else that
// is there must load, or it is left alone. The lock, held until the
// workbook is saved, makes a second export of the same file wait and then
// load what this one wrote; one that waits says so. Where no file was, the
// answer is Keep: the save must not replace one put there meanwhile.
FileReplace::Existing OpenWorkbook(const Export& e, FileLock& lock, XlsDocument& document) {
    const FileLock::Waiting waiting = [&](pid_t holder) {
        ResultsStream << e.function << " " << FileReplace::WaitingFor(e.file, holder) << std::endl;
    };
    switch (lock.Acquire(e.file.c_str(), waiting)) {
        case FileLock::State::Absent: document.New(1); return FileReplace::Existing::Keep;
        case FileLock::State::HeldEmpty: document.New(1); return FileReplace::Existing::Replace;
        case FileLock::State::Held: LoadWorkbook(e, document); return FileReplace::Existing::Replace;
        case FileLock::State::NoLocks:
            throw std::runtime_error(std::string(e.function) + ": could not write \"" + e.file +
                                     "\": it cannot be locked (" + FileReplace::NamedCause(lock.error()) +
                                     "); the file was left as it was");
        case FileLock::State::NotWritable:  // named below, with the cause
        case FileLock::State::NotRegular:
        case FileLock::State::Unsure: break;
    }
    // Refused as the save would refuse it, before anything opens it:
    // opening a FIFO would wait for a writer.
    FileReplace::Target target;
    Outcome outcome;
    if (!FileReplace::FindTarget(e.file, target, outcome)) Failed(e, outcome);
    if (!target.exists) {
        document.New(1);
        return FileReplace::Existing::Keep;
    }
    LoadWorkbook(e, document);
    return FileReplace::Existing::Replace;
}

// A sheet holds no NaN or infinity: such pixels become the error values a
// spreadsheet gives such results, NaN #NUM! and either infinity #DIV/0!.
void SetNumber(SheetCell& cell, double value) {
    if (std::isnan(value))
        cell.SetError(SheetCell::ErrorNum);
    else if (std::isinf(value))
        cell.SetError(SheetCell::ErrorDivZero);
    else
        cell.SetReal(value);
}

// Why a sheet of that name cannot be added (it matches none in the file).
std::string UnusableSheetName(const Export& e, const CellText& name) {
    const char bad = name.ascii ? XlsDocument::ForbiddenNameCharacter(name.narrow.c_str())
                                : XlsDocument::ForbiddenNameCharacter(name.wide.c_str());
    const std::string named = "cannot add a sheet named \"" + e.sheet + "\"";
    if (bad == '\'')
        return named + ": a sheet name may not begin or end with an apostrophe; the file was left as it was";
    if (bad != 0)
        return named + ": a sheet name may not contain '" + std::string(1, bad) + "'; the file was left as it was";
    return named + " (a sheet name has 1 to 255 characters)";
}

SheetCell& CellAt(XlsSheet& sheet, size_t row, size_t column) {
    SheetCell* cell = sheet.Cell(row, column);
    // The limits were checked first, so every cell of the range exists.
    if (cell == nullptr) throw std::logic_error("sheet cell out of range");
    return *cell;
}

// What an export writes into its sheet, checked and decoded.
struct Sheet {
    const CellText& title;
    const std::vector<CellText>& labels;
    const CellText& name;
    const arma::Mat<float>& pixels;
};

// Puts the sheet into the document, in place of one of its name. Throws,
// with the file left as it was, when no sheet can have the name.
void WriteSheet(const Export& e, const Sheet& contents, XlsDocument& document) {
    const CellText& sheet_name = contents.name;
    const arma::Mat<float>& pixels = contents.pixels;
    const size_t width = pixels.n_rows, height = pixels.n_cols;
    // Names match regardless of case and of the width they are stored in.
    XlsSheet* sheet =
        sheet_name.ascii ? document.GetSheet(sheet_name.narrow.c_str()) : document.GetSheet(sheet_name.wide.c_str());
    if (sheet == nullptr)
        sheet = sheet_name.ascii ? document.AddSheet(sheet_name.narrow.c_str(), 0)
                                 : document.AddSheet(sheet_name.wide.c_str(), 0);
    if (sheet == nullptr) Refuse(e.function, UnusableSheetName(e, sheet_name));

    SetCellText(CellAt(*sheet, 0, 0), contents.title);
    size_t k = 0;
    for (const CellText& word : contents.labels) SetCellText(CellAt(*sheet, 1, k++), word);
    CellAt(*sheet, 1, k).SetText("");

    if (e.layout == Layout::Profile) {
        for (size_t i = 0; i < width; ++i) {
            const float axis = static_cast<float>(i) * e.step;
            SetNumber(CellAt(*sheet, i + kFirstDataRow, 0), axis);
            for (size_t j = 0; j < height; ++j) SetNumber(CellAt(*sheet, i + kFirstDataRow, j + 1), pixels(i, j));
        }
    } else {
        // Row by row: a sheet widens every row it holds when a cell opens a new
        // column, so the image's columns are opened once, in its first row.
        for (size_t y = 0; y < height; ++y)
            for (size_t x = 0; x < width; ++x) SetNumber(CellAt(*sheet, y + kFirstDataRow, x), pixels(x, y));
    }
}

void Run(const Export& e) {
    if (!Host::ImageIsValid(e.image)) Refuse(e.function, "the image is not valid");
    const size_t width = Host::ImageGetDimensionSize(e.image, 0);
    const size_t height = Host::ImageGetDimensionSize(e.image, 1);
    const std::vector<std::string> words = Words(e.labels);
    CheckLimits(e, width, height, words.size());
    if (e.file.empty()) Refuse(e.function, "no file name given");
    // The workbook layer takes zero-terminated texts: a zero byte would cut a
    // file or sheet name to another name, and a text short.
    const std::pair<const char*, const std::string*> texts[] = {
        {"file name", &e.file}, {"sheet name", &e.sheet}, {"title", &e.title}, {"labels text", &e.labels}};
    for (const auto& [what, text] : texts)
        if (text->find('\0') != std::string::npos)
            Refuse(e.function, std::string("the ") + what + " holds a zero byte");
    // Longer cell texts would be written cut short.
    auto cell_text = [&](const char* what, const std::string& text) {
        CellText t = Decoded(e.function, what, text);
        if (Utf16Size(t) > kMaxCellText)
            Refuse(e.function, std::string("the ") + what + " has " + std::to_string(Utf16Size(t)) +
                                   " characters; a cell holds at most " + std::to_string(kMaxCellText));
        return t;
    };
    const CellText title = cell_text("title", e.title);
    std::vector<CellText> labels;
    for (const std::string& word : words) labels.push_back(cell_text("label word", word));
    const CellText sheet_name = Decoded(e.function, "sheet name", e.sheet);
    const arma::Mat<float> pixels = orvan::ImageToFloatMatrix(e.image);
    if (pixels.n_rows != width || pixels.n_cols != height)
        Refuse(e.function, "the image's pixels do not match its size");

    const Sheet contents{title, labels, sheet_name, pixels};
    // A new workbook another export put in place meanwhile is loaded, under
    // its lock, and the sheet added to it: both sheets are kept.
    for (;;) {
        FileLock lock;
        XlsDocument document;
        const FileReplace::Existing existing = OpenWorkbook(e, lock, document);
        WriteSheet(e, contents, document);
        if (document.SaveAs(e.file.c_str(), existing)) return;
        if (document.LastSaveOutcome().failure != Outcome::Failure::NameTaken) Failed(e, document.LastSaveOutcome());
    }
}

}  // namespace

void saveprofileasxlslong(LinkImage* image, LinkString* file_name, LinkString* labels, float step, LinkString* title,
                          LinkString* sheet_name) {
    orvan::RunFramed([&] {
        Export e{"saveprofileasxlslong", image,          Text(file_name), Text(labels), step, Text(title),
                 Text(sheet_name),       Layout::Profile};
        Run(e);
    });
}

void saveprofileasxls(LinkImage* image, LinkString* file_name, LinkString* labels, float step) {
    orvan::RunFramed([&] {
        Export e{"saveprofileasxls", image, Text(file_name), Text(labels), step, "Profile", "Profile", Layout::Profile};
        Run(e);
    });
}

void saveimageasxls(LinkImage* image, LinkString* file_name, LinkString* labels, LinkString* title,
                    LinkString* sheet_name) {
    orvan::RunFramed([&] {
        Export e{"saveimageasxls", image,        Text(file_name), Text(labels), 0.0f, Text(title),
                 Text(sheet_name), Layout::Image};
        Run(e);
    });
}
