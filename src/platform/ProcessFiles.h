#pragma once

#include <QString>

// How the app and the host treat their own files when the system pushes back.
namespace ProcessFiles {

// A file-size limit (RLIMIT_FSIZE) then makes a write come up short, which every writer checks,
// instead of killing the process with SIGXFSZ halfway through a temporary file.
void ignoreFileSizeSignal();

// Removes the temporary files a killed process left beside `path` while replacing it
// ("<name>.XXXXXX", as replaceFile and QSaveFile name them). Only regular files of ours go.
void removeLeftoverTemporaries(const QString& path);

} // namespace ProcessFiles
