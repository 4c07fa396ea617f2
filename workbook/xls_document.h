// An .xls workbook held twice: as records (the workbook globals and one
// worksheet container per sheet: what is read from and written to the file)
// and as cells (one XlsSheet per sheet: what callers edit). Load reads the
// "Workbook" stream of a compound document into records and builds the
// cells; saving rebuilds the records from the cells and writes the stream.
//
// Invariants: the BOUNDSHEET list, the worksheets and the sheets have the
// same length and entry k of each belongs to sheet k, whose index is k.
// Names are narrow (8-bit, Latin-1) or wide (16-bit code units). A name
// matches a sheet whose name has the same characters ignoring case (Unicode
// case folding), in whichever width either is stored, as spreadsheet
// programs compare them: lookups find such a sheet, and adding or renaming
// to such a name is refused. A new name (added or renamed to) may not hold
// any of [ ] : * ? / \ nor begin or end with an apostrophe; names a loaded
// workbook has are kept as they are.
//
// Stream as written: globals (BOF, WINDOW1, DATEMODE as loaded, FONT,
// FORMAT as loaded, XF, STYLE, BOUNDSHEET, SST, EOF), then per sheet BOF,
// INDEX, DIMENSIONS, row blocks of 32 rows (ROW records, cell records as RK,
// MULRK, NUMBER, LABELSST or BOOLERR, DBCELL), WINDOW2, EOF.
#ifndef WORKBOOK_XLS_DOCUMENT_H
#define WORKBOOK_XLS_DOCUMENT_H

#include <cstddef>
#include <string>
#include <vector>

#include "compound_file/compound_file.h"
#include "file_replace/outcome.h"
#include "file_replace/replace_file.h"
#include "workbook/workbook.h"
#include "workbook/worksheet.h"
#include "workbook/xls_sheet.h"

namespace CompoundFiles {

class XlsDocument {
public:
    // No sheets until New or Load.
    XlsDocument();
    // Then Load(file); its answer is dropped.
    explicit XlsDocument(const char* file);
    ~XlsDocument();
    // Sheets point at their document: a document is neither copied nor moved.
    XlsDocument(const XlsDocument&) = delete;
    XlsDocument& operator=(const XlsDocument&) = delete;

    // A new workbook with max(sheets, 1) empty sheets named Sheet1, Sheet2...
    // The file the document belongs to, if any, stays its file.
    void New(int sheets);
    // Reads the workbook from a compound document. False, and the document
    // unchanged, when the file cannot be opened as a compound document, has
    // no non-empty "Workbook" stream, or that stream does not begin with
    // BIFF8 workbook globals, or a substream in it is damaged, or a
    // worksheet's BOUNDSHEET entry finds no worksheet substream at its stream
    // position. Other entries without one (chart, macro and module sheets)
    // are dropped, as are worksheets no entry points at.
    // On success the file becomes the document's file.
    bool Load(const char* file);
    // Why the last Load or LoadStream answered false (None after a success).
    enum class LoadFailure { None, NotReadable, Encrypted };
    LoadFailure LastLoadFailure() const { return loadFailure; }
    // Writes the workbook to the document's file (see SaveAs); false when the
    // document has none or the write fails.
    bool Save();
    // Writes the workbook as a new compound document holding only the
    // "Workbook" stream. The document is written to a new file beside the
    // target and renamed over it only when all of it was written and read
    // back (or copied into it, where the target's owner or links could not
    // be kept otherwise: see FileReplace::ReplaceFile); on failure the target is left as
    // it was, the new file is removed and the answer is false. A target that
    // exists but is not a regular file, or that this user may not write, is
    // refused; a symbolic link is followed. False too when the stream would
    // exceed 4 GiB. With Existing::Keep (the caller found no file there), a
    // file another save put there meanwhile is kept and the answer is false
    // with NameTaken: load that one and save again. On success the file
    // becomes the document's file.
    bool SaveAs(const char* file, FileReplace::Existing existing = FileReplace::Existing::Replace);
    // Why the last Save or SaveAs answered false, with the cause's errno
    // where there is one; failure None after a success.
    const FileReplace::Outcome& LastSaveOutcome() const { return saveOutcome; }

    std::size_t SheetCount() const { return worksheets.size(); }
    // Null when index >= SheetCount().
    XlsSheet* GetSheet(std::size_t index);
    // The first sheet whose name matches (see above); null when there is
    // none.
    XlsSheet* GetSheet(const char* name);
    XlsSheet* GetSheet(const wchar_t* name);
    // Appends (index -1) or inserts (0 to SheetCount()) a sheet named
    // "Sheet<n>" with the lowest n from SheetCount() + 1 up that no narrow
    // name has. Null when index is out of range.
    XlsSheet* AddSheet(int index);
    // Adds an empty sheet of that name; null (nothing changes) when a sheet's
    // name matches it, the name is empty, longer than 255 code units or
    // holds a forbidden character, or index is neither -1 nor 0 to
    // SheetCount().
    // Sheet pointers are valid until the next sheet is added or deleted, or
    // the next Load or New.
    XlsSheet* AddSheet(const char* name, int index);
    XlsSheet* AddSheet(const wchar_t* name, int index);
    // The character that keeps a name from being given to a sheet (see
    // above): one of [ ] : * ? / \, or an apostrophe at either end; 0 when
    // there is none.
    static char ForbiddenNameCharacter(const char* name);
    static char ForbiddenNameCharacter(const wchar_t* name);
    // False when there is no such sheet.
    bool DeleteSheet(std::size_t index);
    bool DeleteSheet(const char* name);
    bool DeleteSheet(const wchar_t* name);
    // The name of that width, or null when it has the other width or index
    // >= SheetCount().
    const char* GetSheetName(std::size_t index) const;
    const wchar_t* GetWideSheetName(std::size_t index) const;
    // Copies the name and its zero into buffer (256 elements always hold
    // it); false, buffer untouched, when the name has the other width or
    // index >= SheetCount().
    bool GetSheetName(std::size_t index, char* buffer) const;
    bool GetSheetName(std::size_t index, wchar_t* buffer) const;
    // False when the sheet does not exist, the new name matches a sheet's
    // name (the sheet's own included), or is empty, too long or holds a
    // forbidden character.
    bool RenameSheet(std::size_t index, const char* name);
    bool RenameSheet(std::size_t index, const wchar_t* name);
    bool RenameSheet(const char* oldName, const char* newName);
    bool RenameSheet(const wchar_t* oldName, const wchar_t* newName);

    // Record form, for inspection.
    const XlsBiff::Workbook& Globals() const { return workbook; }
    const std::vector<XlsBiff::Worksheet>& Worksheets() const { return worksheets; }

    // Rebuilds the records from the cells: every worksheet anew (numbers as
    // RK, MULRK or NUMBER; texts as LABELSST; Booleans and errors as
    // BOOLERR), and the shared strings in the order first met. DIMENSIONS,
    // INDEX and the row blocks cover the rows and columns that hold cells,
    // not the table's size. WINDOW1 shows the first sheet, the only one
    // selected.
    void UpdateWorksheets();
    // Sets the BOUNDSHEET stream positions, then the INDEX DBCELL positions
    // and the DBCELL offsets, from the record sizes.
    void UpdatePositions();
    void UpdateBoundSheetPositions();
    void UpdateRowBlockOffsets();
    // Bytes WriteStream writes with the records as they stand.
    std::size_t StreamSize();
    // Writes the globals and every worksheet at out (StreamSize() bytes of
    // room); returns the bytes written.
    std::size_t WriteStream(char* out);
    // Reads a "Workbook" stream into the record form and rebuilds the cells,
    // as Load does after reading the file. False, and the document
    // unchanged, for a stream Load refuses; an encrypted one (FILEPASS in
    // the globals) is refused as such.
    bool LoadStream(const char* data, std::size_t size);

private:
    friend class XlsSheet;
    struct StringMaps;

    // Cells from records.
    void UpdateSheets();
    void BuildWorksheet(std::size_t w, StringMaps& strings);
    // The stream of the workbook as it stands, or false when it cannot be
    // made (over 4 GiB).
    bool BuildStream(std::vector<char>& stream);

    std::size_t FindSheet(const char* name) const;
    std::size_t FindSheet(const wchar_t* name) const;
    template <typename Char>
    XlsSheet* InsertSheet(const Char* name, int index);
    void Renumber(std::size_t from);
    bool SetName(std::size_t index, const char* name);
    bool SetName(std::size_t index, const wchar_t* name);

    CompoundFile file;  // open only while a file is read or written
    std::string path;   // the document's file; empty when none
    XlsBiff::Workbook workbook;
    std::vector<XlsBiff::Worksheet> worksheets;
    std::vector<XlsSheet> sheets;
    LoadFailure loadFailure = LoadFailure::None;
    FileReplace::Outcome saveOutcome;
};

}  // namespace CompoundFiles

#endif
