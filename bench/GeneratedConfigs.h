#pragma once

#include <QByteArray>
#include <QString>

// A configs document of `count` realistic server configurations (about 1.5 KB each: vless over
// reality and vmess over websocket, with routing and DNS), named "Сервер-<n>" / "Server <n>".
// Every `placeholderEvery`-th one (when > 0) is a placeholder at "0.0.0.0".
inline QByteArray generatedConfigs(int count, int placeholderEvery = 0) {
    QByteArray document = "[";
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            document += ",\n";
        const bool placeholder = placeholderEvery > 0 && i % placeholderEvery == placeholderEvery - 1;
        const QByteArray address = placeholder ? "0.0.0.0" : "node" + QByteArray::number(i) + ".example.net";
        const QByteArray name =
            (i % 2 ? "Server " : QString::fromUtf8("Сервер-").toUtf8()) + QByteArray::number(i);
        const QByteArray id = QByteArray::number(0x10000000u + quint32(i) * 7919u, 16);
        const QByteArray outbound =
            i % 3 == 0
                ? R"({"tag":"proxy","protocol":"vmess","settings":{"vnext":[{"address":")" + address +
                      R"(","port":443,"users":[{"id":")" + id +
                      R"(-3f2a-4b6c-9d8e-7a6b5c4d3e2f","alterId":0,"security":"auto","level":0}]}]},"streamSettings":{"network":"ws","security":"tls","tlsSettings":{"serverName":"cdn.example.net","allowInsecure":false,"fingerprint":"chrome"},"wsSettings":{"path":"/ws-)" +
                      id +
                      R"(","headers":{"Host":"cdn.example.net"}}},"mux":{"enabled":false,"concurrency":-1}})"
                : R"({"tag":"proxy","protocol":"vless","settings":{"vnext":[{"address":")" + address +
                      R"(","port":8443,"users":[{"id":")" + id +
                      R"(-1c2d-4e5f-8a9b-0c1d2e3f4a5b","encryption":"none","flow":"xtls-rprx-vision","level":0}]}]},"streamSettings":{"network":"tcp","security":"reality","realitySettings":{"serverName":"www.microsoft.com","fingerprint":"chrome","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw","shortId":"6ba85179e30d4fc2","spiderX":"/"}}})";
        document +=
            R"({"remarks":")" + name +
            R"(","log":{"loglevel":"warning"},"dns":{"servers":["1.1.1.1","8.8.8.8",{"address":"77.88.8.8","domains":["geosite:category-ru"]}],"queryStrategy":"UseIPv4"},"inbounds":[{"tag":"socks","port":10808,"listen":"127.0.0.1","protocol":"socks","settings":{"udp":true,"auth":"noauth"},"sniffing":{"enabled":true,"destOverride":["http","tls","quic"],"routeOnly":true}},{"tag":"http","port":10809,"listen":"127.0.0.1","protocol":"http","settings":{"allowTransparent":false}}],"policy":{"levels":{"0":{"handshake":4,"connIdle":300,"uplinkOnly":1,"downlinkOnly":1,"statsUserUplink":false,"statsUserDownlink":false}},"system":{"statsInboundUplink":false,"statsInboundDownlink":false}},"outbounds":[)" +
            outbound +
            R"(,{"tag":"direct","protocol":"freedom","settings":{}},{"tag":"block","protocol":"blackhole","settings":{"response":{"type":"http"}}}],"routing":{"domainStrategy":"IPIfNonMatch","rules":[{"type":"field","domain":["geosite:category-ads-all"],"outboundTag":"block"},{"type":"field","ip":["geoip:private","geoip:ru"],"outboundTag":"direct"},{"type":"field","domain":["geosite:category-ru"],"outboundTag":"direct"}]}})";
    }
    document += "]";
    return document;
}
