#pragma once

#include <QString>

// What the tunnel controller tells the user, in one place.
namespace tunnel_texts {
inline const QString preview = QStringLiteral("Это предварительная сборка: туннель в ней не включается");
inline const QString allowConfiguration =
    QStringLiteral("Разрешите Вемко добавить настройки VPN и повторите");
inline const QString noServerPassed =
    QStringLiteral("Ни один сервер не пропустил трафик. Проверьте интернет или напишите в поддержку.");
inline const QString approveExtension =
    QStringLiteral("Разрешите расширение Вемко в открывшемся окне настроек");
inline const QString buildFailed = QStringLiteral("не удалось собрать настройки");
inline const QString trying = QStringLiteral("пробую: ");
inline const QString noConnection = QStringLiteral("Не удалось запустить туннель");
} // namespace tunnel_texts
