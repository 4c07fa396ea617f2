// A compound document of one stream put in a file's place: the workbook's
// way of saving.
#ifndef WORKBOOK_STREAM_DOCUMENT_H
#define WORKBOOK_STREAM_DOCUMENT_H

#include <string>
#include <vector>

#include "compound_file/compound_file.h"
#include "file_replace/outcome.h"
#include "file_replace/replace_file.h"

namespace CompoundFiles {

// Writes a new compound document holding one stream, streamName, with the
// bytes of stream, reads the stream back, and only when it came back whole
// lets it replace the file `target` stands for (FileReplace::ReplaceFile:
// the old file whole or the new one whole; owner, group, mode, attributes
// and links kept; a link followed). Returns false, with outcome saying why
// (the errno of a failed write among it), when the target is refused or any
// step fails; `existing` as for ReplaceFile. `document` is used for the
// writing and is closed on return.
bool ReplaceWithStream(const std::string& target, const char* streamName, const std::vector<char>& stream,
                       CompoundFile& document, FileReplace::Outcome& outcome,
                       FileReplace::Existing existing = FileReplace::Existing::Replace);

}  // namespace CompoundFiles

#endif
