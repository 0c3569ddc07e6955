#pragma once

// Server entries as services send them, for the engine-layer tests. JSON in single quotes.

#include <QByteArray>

namespace entries {

inline QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

inline const QByteArray realityVision = json(
    "{'remarks':'Нидерланды','outbounds':[{'tag':'proxy','protocol':'vless','settings':{'vnext':[{"
    "'address':'nl.example.net','port':443,'users':[{'id':'5783a3e7-e373-51cd-8642-c83782b807c5',"
    "'encryption':'none','flow':'xtls-rprx-vision'}]}]},'streamSettings':{'network':'tcp','security':'"
    "reality',"
    "'realitySettings':{'serverName':'www.microsoft.com','fingerprint':'chrome','publicKey':"
    "'Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw','shortId':'6ba85179e30d4fc2','spiderX':'/'}}},"
    "{'tag':'direct','protocol':'freedom'},{'tag':'block','protocol':'blackhole'}],"
    "'routing':{'domainStrategy':'IPIfNonMatch','rules':[{'type':'field','ip':['geoip:private'],"
    "'outboundTag':'direct'}]},'inbounds':[{'port':10808,'protocol':'socks'}],'log':{'loglevel':'debug'}}");

inline const QByteArray xhttp =
    json("{'outbounds':[{'protocol':'vless','settings':{'vnext':[{'address':'cdn.example.net','port':443,"
         "'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a','encryption':'none'}]}]},'streamSettings':{'"
         "network':'xhttp','security':'tls',"
         "'tlsSettings':{'serverName':'cdn.example.net','alpn':['h2'],'fingerprint':'firefox'},"
         "'xhttpSettings':{'path':'/x','mode':'auto','extra':{'xPaddingBytes':'100-1000','xmux':"
         "{'maxConcurrency':'16-32'}}}}}]}");

inline const QByteArray vmessWs = json(
    "{'outbounds':[{'protocol':'vmess','settings':{'vnext':[{'address':'de.example.net','port':'8443',"
    "'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a','alterId':0,'security':'auto'}]}]},'"
    "streamSettings':{'network':'ws',"
    "'security':'tls','tlsSettings':{'serverName':'de.example.net'},'wsSettings':{'path':'/ws',"
    "'headers':{'Host':'de.example.net'}}},'mux':{'enabled':true,'concurrency':8,'xudpConcurrency':16}}],"
    "'dns':{'servers':['1.1.1.1','localhost',{'address':'https+local://8.8.8.8/dns-query'},"
    "{'address':'9.9.9.9','port':53}]}}");

inline const QByteArray trojanGrpc =
    json("{'outbounds':[{'protocol':'trojan','settings':{'servers':[{'address':'fi.example.net','port':443,"
         "'password':'secret'}]},'streamSettings':{'network':'grpc','security':'tls','grpcSettings':"
         "{'serviceName':'tun'}}}]}");

inline const QByteArray shadowsocks = json(
    "{'outbounds':[{'protocol':'shadowsocks','settings':{'servers':[{'address':'203.0.113.9','port':8388,"
    "'method':'aes-256-gcm','password':'secret'}]}},{'tag':'direct','protocol':'freedom'}],"
    "'routing':{'rules':[{'type':'field','domain':['domain:example.ru','full:ya.ru'],'port':'80,443',"
    "'outboundTag':'direct'},{'type':'field','inboundTag':['api'],'outboundTag':'direct'}]}}");

inline const QByteArray shadowsocks2022 = json(
    "{'outbounds':[{'protocol':'shadowsocks','settings':{'servers':[{'address':'203.0.113.9','port':8388,"
    "'method':'2022-blake3-aes-128-gcm','password':'secret'}]}}]}");

inline const QByteArray geoRules =
    json("{'outbounds':[{'tag':'proxy','protocol':'vmess','settings':{'vnext':[{'address':'de.example.net',"
         "'port':443,'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a'}]}]}},{'tag':'direct','protocol':'"
         "freedom'}],'routing':{'rules':["
         "{'type':'field','ip':['geoip:private','geoip:ru'],'outboundTag':'direct'},{'type':'field','domain':"
         "['geosite:category-ads-all'],'outboundTag':'direct'}]}}");

inline const QByteArray h2 =
    json("{'outbounds':[{'protocol':'vmess','settings':{'vnext':[{'address':'de.example.net','port':443,"
         "'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a'}]}]},'streamSettings':{'network':'h2','"
         "security':'tls','httpSettings':"
         "{'host':['de.example.net'],'path':'/h2'}}}]}");

inline const QByteArray trojanTcp = json(
    "{'outbounds':[{'protocol':'trojan','settings':{'servers':[{'address':'fi.example.net','port':443,"
    "'password':'secret'}]},'streamSettings':{'network':'raw','security':'tls','rawSettings':"
    "{'header':{'type':'none'}}}}]}");

} // namespace entries
