#pragma once

#include "platform/DeviceFacts.h"

// Fixed device facts for tests.
class FakeDeviceFacts final : public DeviceFacts {
public:
    QString platformUuid() const override { return uuid; }
    QString model() const override { return modelText; }
    QString osVersionText() const override { return versionText; }

    QString uuid = QStringLiteral("0123456789abcdef0123456789abcdef");
    QString modelText = QStringLiteral("ThinkPad X1 Carbon\n");
    QString versionText = QStringLiteral("Debian GNU/Linux 12 (bookworm) 6.1.0-28-amd64");
};
