#pragma once

#include "service/Records.h"
#include "service/ServerProfile.h"

#include <QList>
#include <optional>

// Value comparisons for the model's change notifications. The service records without an equality
// of their own are compared field by field here; servers are compared by name and configuration,
// so a server whose settings changed under the same name still reaches the screens and the tunnel.
namespace same {

// Records with a field-wise equality of their own.
template <typename T>
requires requires(const T& a, const T& b) {
    a == b;
}
bool value(const T& a, const T& b) {
    return a == b;
}

bool value(const Me& a, const Me& b);
bool value(const Referral& a, const Referral& b);
bool value(const AppVersion& a, const AppVersion& b);
bool value(const ServerProfile& a, const ServerProfile& b);

template <typename T> bool value(const QList<T>& a, const QList<T>& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!same::value(a[i], b[i]))
            return false;
    }
    return true;
}

template <typename T> bool value(const std::optional<T>& a, const std::optional<T>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || same::value(*a, *b);
}

} // namespace same
