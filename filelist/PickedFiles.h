#pragma once

// What Windows' multi-select file-open dialog writes into its buffer, as full paths.
#include "import/Text.h"

#include <string_view>

// `buffer` holds either one full path, or a folder followed by the names picked in it, each
// ended by a NUL, the whole ended by a second NUL (OFN_ALLOWMULTISELECT | OFN_EXPLORER). Gives the
// full paths in the dialog's order; a name typed as a full path stays as it is; nothing when the
// buffer is empty. A folder that already ends in a backslash (a drive root) gets no second one.
TextList PickedFiles(std::u16string_view buffer);
