#pragma once

#include <QString>

// The first 32 lowercase hex characters of the SHA-256 of the text's UTF-8 bytes.
QString sha256(const QString& text);
