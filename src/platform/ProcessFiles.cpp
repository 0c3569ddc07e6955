#include "platform/ProcessFiles.h"

#include "os/ReplaceFile.h"

#include <QFile>
#include <csignal>

namespace ProcessFiles {

void ignoreFileSizeSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

void removeLeftoverTemporaries(const QString& path) {
    os::removeLeftoverTemporaries(QFile::encodeName(path).toStdString());
}

} // namespace ProcessFiles
