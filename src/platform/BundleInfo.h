#pragma once

#include <QString>
#include <optional>

// The bundle information keys: marketing version, build and the preview flag.
// Missing values stay missing; Store applies the fallbacks.
struct BundleInfo {
    std::optional<QString> shortVersion; // "CFBundleShortVersionString"
    std::optional<QString> version;      // "CFBundleVersion" (the build number, as text)
    bool preview = false;                // "VemkoPreview"

    // The values compiled into this build (VEMKO_VERSION, VEMKO_BUILD, VEMKO_PREVIEW).
    static BundleInfo compiled();
};
