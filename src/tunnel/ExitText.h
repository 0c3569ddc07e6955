#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The exit address from the IP-information service's reply: "city · ip", or the ip alone when
// the city is empty. Nothing when the body is not a JSON object (the attempt failed).
std::optional<QString> exitText(const QByteArray& body);
