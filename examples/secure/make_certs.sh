#!/bin/sh
# Makes a small certificate authority and the certificates of a secured robot link with openssl:
#   make_certs.sh DIR ROBOT_ADDRESS [CLIENT_NAME ...]
# DIR/ca.pem        the authority both sides trust (its key, DIR/ca.key, stays with whoever
#                   issues certificates: keep it off the robot and the clients)
# DIR/robot.pem/key the robot's certificate, valid for ROBOT_ADDRESS (an IP address or a host
#                   name: the address that clients connect to)
# DIR/NAME.pem/key  one certificate per client; NAME is its common name, which access-control
#                   rules name (default: one client called "operator")
# Existing files are overwritten.
set -eu

if [ $# -lt 2 ]; then
  echo "usage: $0 DIR ROBOT_ADDRESS [CLIENT_NAME ...]" >&2
  exit 2
fi
dir=$1
address=$2
shift 2
[ $# -gt 0 ] || set -- operator

mkdir -p "$dir"
days=825
ext=$(mktemp)
trap 'rm -f "$ext" "$dir"/*.csr' EXIT

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

# sign NAME COMMON_NAME EXTENSIONS: a certificate for NAME.key signed by the authority.
sign() {
  key "$dir/$1.key"
  openssl req -new -key "$dir/$1.key" -subj "/CN=$2" -out "$dir/$1.csr"
  printf '%s\n' "basicConstraints=critical,CA:FALSE" \
    "keyUsage=critical,digitalSignature,keyEncipherment" "$3" >"$ext"
  openssl x509 -req -in "$dir/$1.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -set_serial "0x$(openssl rand -hex 16)" -days "$days" -extfile "$ext" -out "$dir/$1.pem" \
    2>/dev/null
}

key "$dir/ca.key"
openssl req -x509 -new -key "$dir/ca.key" -subj "/CN=Korvo robot link authority" -days "$days" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out "$dir/ca.pem"

case $address in
  *:*) san="IP:$address" ;;         # IPv6
  *[!0-9.]*) san="DNS:$address" ;;  # a host name
  *) san="IP:$address" ;;           # IPv4
esac
sign robot robot "extendedKeyUsage=serverAuth,clientAuth
subjectAltName=$san"

for name in "$@"; do
  sign "$name" "$name" "extendedKeyUsage=clientAuth"
done
chmod 600 "$dir"/*.key
echo "Certificates in $dir: ca.pem, robot.pem (for $address), $(printf '%s.pem ' "$@")"
