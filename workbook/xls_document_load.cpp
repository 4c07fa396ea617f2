// Reading a workbook: the "Workbook" stream into records, then cells.
#include <sys/stat.h>

#include <cstdint>
#include <utility>

#include "workbook/xls_document.h"

namespace CompoundFiles {

using XlsBiff::BOF;
using XlsBiff::Record;
using XlsBiff::Workbook;
using XlsBiff::Worksheet;

namespace {

namespace RecordCode = XlsBiff::RecordCode;
namespace SubstreamType = XlsBiff::SubstreamType;
const unsigned short kBiff8 = 0x0600;
const unsigned char kWorksheetEntry = 0;  // BOUNDSHEET sheet type of a worksheet

struct ParsedStream {
    Workbook globals;
    std::vector<Worksheet> worksheets;
    std::vector<std::size_t> offsets;  // stream offset of each worksheet's BOF
};

// Reads the substreams of the stream: the globals first, then every
// worksheet; other substreams (charts, macro and module sheets) are passed
// over whole, so the worksheets behind them are still read. Reading ends at
// the end of the data or at a record between substreams that is not a BOF.
// False when the stream does not begin with BIFF8 globals or a substream is
// damaged.
bool ParseStream(const char* data, std::size_t size, ParsedStream& parsed) {
    const char* end = data + size;
    std::size_t pos = 0;
    bool haveGlobals = false;
    unsigned short code = 0;
    while (pos < size && Record::PeekCode(data + pos, end, code) && code == RecordCode::Bof) {
        BOF bof;
        if (bof.Read(data + pos, end) == 0) return false;
        std::size_t n = 0;
        if (!haveGlobals) {
            // Anything but BIFF8 globals in front would be misread.
            if (bof.type != SubstreamType::Globals || bof.version != kBiff8) return false;
            n = parsed.globals.Read(data + pos, end);
            haveGlobals = true;
        } else if (bof.type == SubstreamType::Worksheet) {
            parsed.worksheets.emplace_back();
            n = parsed.worksheets.back().Read(data + pos, end);
            parsed.offsets.push_back(pos);
        } else {
            n = Record::SkipSubstream(data + pos, end);
        }
        if (n == 0) return false;
        pos += n;
    }
    return haveGlobals;
}

// Keeps, in BOUNDSHEET order, the entries whose stream position is the BOF
// of a worksheet read, each with its worksheet; the rest is dropped so that
// entries and worksheets correspond one to one. False when a worksheet's
// entry finds no worksheet there: its cells were not read, and saving would
// lose them.
bool MatchSheets(ParsedStream& parsed) {
    std::vector<Workbook::BoundSheet> entries;
    std::vector<Worksheet> worksheets;
    std::vector<bool> taken(parsed.worksheets.size(), false);
    for (Workbook::BoundSheet& entry : parsed.globals.sheets) {
        bool found = false;
        for (std::size_t k = 0; k < parsed.offsets.size() && !found; ++k) {
            if (!taken[k] && parsed.offsets[k] == entry.streamPosition) {
                taken[k] = found = true;
                entries.push_back(std::move(entry));
                worksheets.push_back(std::move(parsed.worksheets[k]));
            }
        }
        if (!found && entry.sheetType == kWorksheetEntry) return false;
    }
    parsed.globals.sheets = std::move(entries);
    parsed.worksheets = std::move(worksheets);
    return true;
}

// A cell XF whose number format or font differs from its parent style's
// but whose "used" flag is clear (as some writers leave it) is
// contradictory: readers show the cell XF's own format and warn. The flag
// is set, which keeps what every reader shows and ends the warnings.
void MarkUsedAttributes(Workbook& globals) {
    const std::uint16_t kStyleXf = 0x0004;
    const std::uint8_t kFormatUsed = 0x04;
    const std::uint8_t kFontUsed = 0x08;
    for (Workbook::XF& xf : globals.xfs) {
        if ((xf.typeProtection & kStyleXf) != 0) continue;
        const std::size_t parent = xf.typeProtection >> 4;
        if (parent >= globals.xfs.size()) continue;
        const Workbook::XF& style = globals.xfs[parent];
        if (xf.formatIndex != style.formatIndex) xf.usedAttributes |= kFormatUsed;
        if (xf.fontIndex != style.fontIndex) xf.usedAttributes |= kFontUsed;
    }
}

}  // namespace

bool XlsDocument::LoadStream(const char* data, std::size_t size) {
    loadFailure = LoadFailure::NotReadable;
    if (data == nullptr || size == 0) return false;
    ParsedStream parsed;
    if (!ParseStream(data, size, parsed)) {
        if (parsed.globals.encrypted) loadFailure = LoadFailure::Encrypted;
        return false;
    }
    // A BOF met inside the globals replaces theirs: such a stream is not
    // read as written.
    if (parsed.globals.bof.type != SubstreamType::Globals || parsed.globals.bof.version != kBiff8) return false;
    if (!MatchSheets(parsed)) return false;
    MarkUsedAttributes(parsed.globals);
    workbook = std::move(parsed.globals);
    worksheets = std::move(parsed.worksheets);
    UpdateSheets();
    loadFailure = LoadFailure::None;
    return true;
}

bool XlsDocument::Load(const char* name) {
    if (file.IsOpen()) file.Close();
    loadFailure = LoadFailure::NotReadable;
    if (name == nullptr) return false;
    // Opening a FIFO for reading waits for a writer, and a device may act on
    // being opened: only a regular file is read.
    struct stat info;
    if (stat(name, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    // Reading only: the file is never written through this handle.
    if (!file.Open(name, std::ios_base::in)) return false;
    std::vector<char> bytes;
    const int code = file.ReadFile("Workbook", bytes);
    file.Close();
    if (code != kDone || !LoadStream(bytes.data(), bytes.size())) return false;
    path = name;
    return true;
}

}  // namespace CompoundFiles
