// Opening the log's file. The log lives beside the executable, often in a folder that Users can
// write, and we truncate and write it as administrator: a name that someone replaced with a link,
// or a file of theirs (or of the system) given a second name there, must never lead us to write
// another file.
#pragma once

#include "common/unique_handle.h"

namespace tendril {

// Opens name for reading and writing, with read sharing only, when it is plainly a file of its
// own. A missing file is created without following a link planted at the name; an existing one is
// opened without following a link and kept only when it is no link of any kind, has exactly one
// name and is found at that very name. Anything else is left as it was and none is returned, as
// when the file cannot be opened at all.
UniqueFile openPlainFile(const wchar_t* name);

}  // namespace tendril
