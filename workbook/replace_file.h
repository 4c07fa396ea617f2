// Writing a compound document over an existing file without ever leaving a
// half-written one behind.
#ifndef WORKBOOK_REPLACE_FILE_H
#define WORKBOOK_REPLACE_FILE_H

#include <vector>

#include "compound_file/compound_file.h"

namespace CompoundFiles {

// Makes a new compound document holding one stream, streamName, with the
// bytes of stream, in a new file beside target; reads the stream back, and
// only when it came back whole syncs the file and renames it over target.
// The new file takes the mode (and, where allowed, the owner) of the file
// it replaces. A symbolic link target is followed to the file it names.
// Returns false, with target exactly as it was and the new file removed,
// when target exists but is not a regular file, or when any step fails.
// `document` is used for the writing and is closed on return.
bool ReplaceFile(const char* target, const char* streamName, const std::vector<char>& stream,
                 CompoundFile& document);

}  // namespace CompoundFiles

#endif
