#!/bin/bash
# The test network of the system-wide tunnel: three network namespaces joined by veth pairs.
# Nothing here touches the machine's own network.
#   vemko-t-client  the user's machine     vkc0 10.201.0.2/24 fd00:201::2/64, default via .1
#   vemko-t-inet    home router + "internet"
#                   vki-c 10.201.0.1/24 fd00:201::1/64 (LAN side; LAN resolver 10.201.0.1)
#                   vki-v 10.202.0.1/24 (towards the VPN servers)
#                   lo: 10.203.0.1 HTTP host, 10.203.0.53 public resolver, fd00:203::1 IPv6 host
#   vemko-t-vpn     the VPN provider       vkv0 10.202.0.2/24 and 10.202.0.3/24, one vmess server each
#   vemko-t-ctr     a container of the client behind its bridge vkbr0 10.210.0.1/24 (masqueraded,
#                   as Docker does)       vkd0 10.210.0.2/24, default via .1
# A leak watch on the router counts what the client sends anywhere but the VPN servers.
#   topology.sh up WORKDIR | down WORKDIR
set -u
NS="vemko-t-client vemko-t-inet vemko-t-vpn vemko-t-ctr"
HERE=$(cd "$(dirname "$0")" && pwd)
W=${2:?work dir}

down() {
    for p in "$W"/*.pid; do [ -f "$p" ] && kill "$(cat "$p")" 2>/dev/null; rm -f "$p"; done
    # anything still running inside one of these namespaces (found by namespace, never by name)
    for n in $NS; do for pid in $(ip netns pids "$n" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done; done
    for n in $NS; do ip netns del "$n" 2>/dev/null; rm -rf "/etc/netns/$n"; done
    return 0
}

bg() { # name, namespace, command...: start in the background, remember the pid
    local name=$1 ns=$2; shift 2
    ip netns exec "$ns" "$@" >"$W/$name.out" 2>&1 &
    echo $! >"$W/$name.pid"
}

up() {
    set -e
    mkdir -p "$W"
    for n in $NS; do ip netns add "$n"; ip -n "$n" link set lo up; done
    ip link add vkc0 netns vemko-t-client type veth peer name vki-c netns vemko-t-inet
    ip link add vkv0 netns vemko-t-vpn type veth peer name vki-v netns vemko-t-inet
    ip -n vemko-t-client addr add 10.201.0.2/24 dev vkc0
    ip -n vemko-t-client addr add fd00:201::2/64 dev vkc0 nodad
    ip -n vemko-t-inet addr add 10.201.0.1/24 dev vki-c
    ip -n vemko-t-inet addr add fd00:201::1/64 dev vki-c nodad
    ip -n vemko-t-inet addr add 10.202.0.1/24 dev vki-v
    ip -n vemko-t-inet addr add 10.203.0.1/32 dev lo
    ip -n vemko-t-inet addr add 10.203.0.53/32 dev lo
    ip -n vemko-t-inet addr add fd00:203::1/128 dev lo
    ip -n vemko-t-vpn addr add 10.202.0.2/24 dev vkv0
    ip -n vemko-t-vpn addr add 10.202.0.3/24 dev vkv0
    ip -n vemko-t-client link set vkc0 up
    ip -n vemko-t-inet link set vki-c up
    ip -n vemko-t-inet link set vki-v up
    ip -n vemko-t-vpn link set vkv0 up
    ip -n vemko-t-client route add default via 10.201.0.1
    ip -n vemko-t-client -6 route add default via fd00:201::1
    ip -n vemko-t-vpn route add default via 10.202.0.1
    ip netns exec vemko-t-inet sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
    ip -n vemko-t-client link add vkbr0 type bridge
    ip -n vemko-t-client addr add 10.210.0.1/24 dev vkbr0
    ip link add vkd0 netns vemko-t-ctr type veth peer name vkd-c netns vemko-t-client
    ip -n vemko-t-client link set vkd-c master vkbr0
    ip -n vemko-t-client link set vkd-c up
    ip -n vemko-t-client link set vkbr0 up
    ip -n vemko-t-ctr addr add 10.210.0.2/24 dev vkd0
    ip -n vemko-t-ctr link set vkd0 up
    ip -n vemko-t-ctr route add default via 10.210.0.1
    ip netns exec vemko-t-client sysctl -qw net.ipv4.ip_forward=1
    ip netns exec vemko-t-client nft -f - <<'NFT'
table ip containers {
  chain post { type nat hook postrouting priority srcnat; policy accept; ip saddr 10.210.0.0/24 oifname "vkc0" masquerade; }
}
NFT
    # ip netns exec bind-mounts these over /etc/resolv.conf
    mkdir -p /etc/netns/vemko-t-client /etc/netns/vemko-t-vpn /etc/netns/vemko-t-ctr
    echo "nameserver 10.201.0.1" >/etc/netns/vemko-t-client/resolv.conf
    echo "nameserver 10.203.0.53" >/etc/netns/vemko-t-vpn/resolv.conf
    echo "nameserver 10.203.0.53" >/etc/netns/vemko-t-ctr/resolv.conf

    bg http vemko-t-inet socat TCP-LISTEN:80,bind=10.203.0.1,fork,reuseaddr,backlog=128 EXEC:"$HERE/http-answer.sh"
    bg http6 vemko-t-inet socat TCP6-LISTEN:80,bind=[fd00:203::1],fork,reuseaddr EXEC:"$HERE/http-answer.sh"
    : >"$W/dns-public.log"; : >"$W/dns-router.log"
    bg dns-public vemko-t-inet dnsmasq --keep-in-foreground --no-resolv --no-hosts --bind-interfaces \
        --listen-address=10.203.0.53 --log-queries=extra --log-facility="$W/dns-public.log" --pid-file= \
        --user=root --address=/example.test/10.203.0.1 --address=/dual.test/10.203.0.1 \
        --address=/dual.test/fd00:203::1 --address=/vpn.test/10.202.0.2
    bg dns-router vemko-t-inet dnsmasq --keep-in-foreground --no-resolv --no-hosts --bind-interfaces \
        --listen-address=10.201.0.1 --log-queries=extra --log-facility="$W/dns-router.log" --pid-file= \
        --user=root --server=10.203.0.53

    ip netns exec vemko-t-inet nft -f - <<'NFT'
table inet leakwatch {
  counter tunnel {}
  counter leak4 {}
  counter leak6 {}
  counter lan_dns {}
  chain pre {
    type filter hook prerouting priority -300; policy accept;
    iifname "vki-c" ip daddr { 10.202.0.2, 10.202.0.3 } tcp dport 10086 counter name tunnel accept
    iifname "vki-c" ip daddr != 10.201.0.1 counter name leak4
    # link-scope traffic (neighbour discovery to ff02::/16 included) never leaves the LAN
    iifname "vki-c" ip6 daddr != { fe80::/10, ff02::/16 } ip6 saddr != fe80::/10 counter name leak6
    iifname "vki-c" ip daddr 10.201.0.1 meta l4proto { tcp, udp } th dport 53 counter name lan_dns
  }
}
NFT
    for a in 2 3; do
        sed "s/@ADDRESS@/10.202.0.$a/g" "$HERE/vpn-server.json" >"$W/vpn-server-$a.json"
        bg "vpn-$a" vemko-t-vpn v2ray -config "$W/vpn-server-$a.json"
    done
    for i in $(seq 1 100); do # bounded wait for every listener (10 s)
        if ip netns exec vemko-t-inet ss -ltn | grep -q "10.203.0.1:80 " &&
            [ "$(ip netns exec vemko-t-vpn ss -ltn | grep -c ':10086 ')" = 2 ] &&
            ip netns exec vemko-t-inet ss -lun | grep -q "10.203.0.53:53 "; then
            echo "topology up"; return 0
        fi
        sleep 0.1
    done
    echo "topology did not come up" >&2; return 1
}

case "${1:-}" in
up) down; up ;;
down) down ;;
*) echo "usage: topology.sh up|down WORKDIR" >&2; exit 2 ;;
esac
