#pragma once

#include "platform/LoginItem.h"
#include "platform/PlatformError.h"

// A login item held in memory; `failWrites` makes every change throw, as a read-only folder would.
class FakeLoginItem final : public LoginItem {
public:
    bool enabled() const override { return on; }
    void setEnabled(bool value) override {
        ++writes;
        if (failWrites)
            throw PlatformError(QStringLiteral("read-only"));
        on = value;
    }

    bool on = false;
    bool failWrites = false;
    int writes = 0;
};
