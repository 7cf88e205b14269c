#!/usr/bin/env bash
# serverctl.sh start|stop DIR: the local servers of the upload tests, all on
# 127.0.0.1 with ports chosen at run time. `start` writes DIR/servers.txt
# (key=value lines the tests read) and DIR/*.pid; `stop` ends exactly the
# processes it started.
#   http         upload_server.py, plain HTTP
#   https        upload_server.py, certificate signed by the test CA
#   https_bad    upload_server.py, self-signed certificate nobody trusts
#   proxy        tinyproxy without authentication
#   proxy_auth   tinyproxy with BasicAuth quill:s3cret (answers 407)
#   misbehaving  misbehaving_server.py: never answers, stops reading,
#                answers slowly, redirects, refuses (one way per path)
#   ca           the test CA certificate (DER) the tests add to the Wine
#                prefix's Root store
set -euo pipefail
cmd="$1"
DIR="$(mkdir -p "$2" && cd "$2" && pwd)"
HERE="$(cd "$(dirname "$0")" && pwd)"
PY=/usr/bin/python3   # Debian's interpreter: it sees python3-multipart

stop_all() {
  local f
  for f in "$DIR"/srv-*.pid; do
    [ -f "$f" ] || continue
    kill "$(cat "$f")" 2>/dev/null || true
    rm -f "$f"
  done
}

free_port() {
  "$PY" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

make_certs() {
  local c="$DIR/certs"
  [ -f "$c/ready" ] && return 0
  rm -rf "$c"; mkdir -p "$c"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Quillfen Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$c/ca.key" -out "$c/ca.pem" 2>/dev/null
  openssl x509 -in "$c/ca.pem" -outform DER -out "$c/ca.der"
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$c/server.key" -out "$c/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$c/ext.cnf"
  openssl x509 -req -in "$c/server.csr" -CA "$c/ca.pem" -CAkey "$c/ca.key" -CAcreateserial -days 3650 \
    -extfile "$c/ext.cnf" -out "$c/server.pem" 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -keyout "$c/bad.key" -out "$c/bad.pem" 2>/dev/null
  touch "$c/ready"
}

start_upload_server() {  # name [cert key]
  start_py_server "$1" upload_server.py "${@:2}"
}

start_py_server() {  # name script [cert key]
  local name="$1" script="$2"; shift 2
  local portfile="$DIR/srv-$name.port"
  rm -f "$portfile"
  local tls=()
  [ $# -eq 2 ] && tls=(--cert "$1" --key "$2")
  "$PY" "$HERE/$script" --port-file "$portfile" "${tls[@]}" </dev/null >"$DIR/srv-$name.log" 2>&1 &
  echo $! >"$DIR/srv-$name.pid"
  local i
  for i in $(seq 1 200); do
    [ -s "$portfile" ] && break
    sleep 0.05
  done
  [ -s "$portfile" ] || { echo "serverctl: $name did not start" >&2; cat "$DIR/srv-$name.log" >&2; exit 1; }
  echo "$name=$(cat "$portfile")" >>"$DIR/servers.txt.tmp"
}

start_tinyproxy() {  # name [user password]
  local name="$1"; shift
  local port; port=$(free_port)
  local conf="$DIR/srv-$name.conf"
  {
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Timeout 30"
    echo "MaxClients 20"
    echo "Allow 127.0.0.1"
    echo "LogLevel Connect"
    echo "LogFile \"$DIR/srv-$name.log\""
    [ $# -eq 2 ] && echo "BasicAuth $1 $2"
  } >"$conf"
  : >"$DIR/srv-$name.log"
  chmod 666 "$DIR/srv-$name.log"
  tinyproxy -d -c "$conf" </dev/null >>"$DIR/srv-$name.out" 2>&1 &
  echo $! >"$DIR/srv-$name.pid"
  local i
  for i in $(seq 1 200); do
    "$PY" -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),0.2).close()" 2>/dev/null && break
    sleep 0.05
  done
  "$PY" -c "import socket; socket.create_connection(('127.0.0.1',$port),0.2).close()" 2>/dev/null \
    || { echo "serverctl: tinyproxy $name did not start" >&2; cat "$DIR/srv-$name.out" >&2; exit 1; }
  echo "$name=$port" >>"$DIR/servers.txt.tmp"
}

case "$cmd" in
  start)
    stop_all
    make_certs
    rm -f "$DIR/servers.txt" "$DIR/servers.txt.tmp"
    start_upload_server http
    start_upload_server https "$DIR/certs/server.pem" "$DIR/certs/server.key"
    start_upload_server https_bad "$DIR/certs/bad.pem" "$DIR/certs/bad.key"
    start_tinyproxy proxy
    start_tinyproxy proxy_auth quill s3cret
    start_py_server misbehaving misbehaving_server.py
    echo "ca=$DIR/certs/ca.der" >>"$DIR/servers.txt.tmp"
    echo "dir=$DIR" >>"$DIR/servers.txt.tmp"
    mv "$DIR/servers.txt.tmp" "$DIR/servers.txt"
    ;;
  stop) stop_all; rm -f "$DIR/servers.txt" ;;
  *) echo "usage: serverctl.sh start|stop DIR" >&2; exit 2 ;;
esac
