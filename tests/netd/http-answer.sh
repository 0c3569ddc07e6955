#!/bin/bash
# One HTTP exchange for the test "internet" (run by socat per connection): GET / answers with the
# address the client came from; GET /blob?mb=N sends N MiB (N <= 200); GET /api/v1/ip and
# GET /json answer as the service's probe path and the exit-address service would.
read -r method target _
while read -r line && [ -n "${line%$'\r'}" ]; do :; done
if [[ "$target" =~ ^/blob\?mb=([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" -le 200 ]; then
    size=$((BASH_REMATCH[1] * 1048576))
    printf 'HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n' "$size"
    head -c "$size" /dev/zero
elif [ "$target" = /api/v1/ip ] || [ "$target" = /json ]; then
    body="{\"exit\":\"$SOCAT_PEERADDR\",\"ip\":\"$SOCAT_PEERADDR\",\"city\":\"Test\"}"
    printf 'HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s' ${#body} "$body"
else
    body="server=$SOCAT_SOCKADDR peer=$SOCAT_PEERADDR"
    printf 'HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s\n' $((${#body} + 1)) "$body"
fi
