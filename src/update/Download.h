#pragma once

#include <QCoroTask>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

// Streams `url` into the file at `path` (written beside it and renamed into place only when the
// whole body arrived with HTTP 200), so an archive of any size never sits in memory.
// Throws Fail("сервер не отдал файл") for a reply that is not HTTP 200, TransportError when the
// network fails, PlatformError when the file cannot be written, and Fail("архив обновления слишком
// велик") as soon as the body grows past `limit` bytes.
QCoro::Task<> downloadToFile(QNetworkAccessManager& network, QUrl url, QString path, qint64 limit);
