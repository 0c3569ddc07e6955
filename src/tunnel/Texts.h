#pragma once

#include <QList>
#include <QString>

// What the tunnel controller tells the user, in one place.
namespace tunnel_texts {
inline const QString preview = QStringLiteral("Это предварительная сборка: туннель в ней не включается");
inline const QString allowConfiguration =
    QStringLiteral("Разрешите Вемко добавить настройки VPN и повторите");
inline const QString noServerPassed =
    QStringLiteral("Ни один сервер не пропустил трафик. Проверьте интернет или напишите в поддержку.");
inline const QString serverPassedNoTraffic =
    QStringLiteral("Сервер не пропустил трафик. Проверьте интернет или выберите другой сервер.");
// While the watch replaces a server that stopped carrying traffic.
inline const QString connectionLost = QStringLiteral("Связь пропала — переключаюсь…");
// Beside the server that carries the tunnel when it is not the one chosen (after a fail-over).
inline const QString carries = QStringLiteral(" · подключено");
// The toast once it has: %1 is the new server.
inline const QString switchedTo = QStringLiteral("Сервер перестал отвечать — подключено через «%1»");
inline const QString approveExtension =
    QStringLiteral("Разрешите расширение Вемко в открывшемся окне настроек");
inline const QString buildFailed = QStringLiteral("не удалось собрать настройки");
// A server this machine's engine cannot run as the service wrote it: nothing is started.
inline QString unusable(const QString& server, const QString& reason) {
    return QStringLiteral("«%1» не запустить на этом компьютере: %2").arg(server, reason);
}
inline const QString noEngine = QStringLiteral("Не найден движок туннеля: установите Xray или v2ray");
inline const QString trying = QStringLiteral("пробую: ");
inline const QString noConnection = QStringLiteral("Не удалось запустить туннель");
// The home screen's error card while the kill switch holds (Vpn::blocked).
inline const QString killSwitch = QStringLiteral(
    "Туннель оборвался — интернет заблокирован, пока вы не отключите VPN или он не переподключится");
} // namespace tunnel_texts

// The choice of tunnel mode (Vpn::tunnelMode), for the More screen: the title and the one line
// saying what each covers, keyed by the stored value.
namespace tunnel_mode_texts {
struct Choice {
    QString mode;
    QString title;
    QString covers;
};
inline const QList<Choice> choices{
    {QStringLiteral("system"), QStringLiteral("Весь трафик через VPN"),
     QStringLiteral("Все программы, контейнеры и виртуальные машины и DNS идут через туннель; если он "
                    "оборвётся, интернет блокируется. За этим компьютером включается без пароля, из "
                    "других сеансов (SSH) — с паролем администратора")},
    {QStringLiteral("desktop_proxy"), QStringLiteral("Через системный прокси"),
     QStringLiteral("Программы, которые следуют настройкам прокси GNOME или KDE; без прав администратора")},
    {QStringLiteral("socks"), QStringLiteral("Только SOCKS-прокси 127.0.0.1:10808"),
     QStringLiteral("Только программы, в которых этот прокси указан вручную")},
};
} // namespace tunnel_mode_texts
