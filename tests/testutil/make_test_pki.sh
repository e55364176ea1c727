#!/usr/bin/env bash
# Makes the certificates of the NTS tests in <dir> (created when missing), plain PEM files:
#   ca.pem, ca.key                 the test CA: the trusted certificates of the clients
#   server.pem, server.key         a server certificate for <host name> (an address gives an IP
#                                  entry), signed by the CA
#   other.pem, other.key           the same for the name "other.invalid"
#   expired.pem, expired.key       for <host name>, signed by the CA, valid only in January 2020
#   untrusted-ca.pem               another CA, which signed none of them
# Keys are EC P-256, unencrypted. Needs the openssl command.
#   tests/testutil/make_test_pki.sh <dir> <host name>
set -euo pipefail
dir=$1
host=$2
mkdir -p "$dir"
cd "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
san_of() {
  if [[ $1 =~ ^[0-9.]+$ || $1 == *:* ]]; then echo "IP:$1"; else echo "DNS:$1"; fi
}

# The CAs: self-signed, ten years.
for ca in ca untrusted-ca; do
  new_key "$work/$ca.key"
  openssl req -x509 -new -key "$work/$ca.key" -subj "/CN=chron test $ca" -days 3650 -sha256 \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$ca.pem" 2>/dev/null
done
cp "$work/ca.key" ca.key

# A certificate of the CA for name $2 in $1.pem/$1.key; $3 and $4 the start and end dates
# (YYYYMMDDHHMMSSZ) or empty for now and a year.
issue() {
  local out=$1 name=$2 start=${3:-} end=${4:-}
  new_key "$out.key"
  openssl req -new -key "$out.key" -subj "/CN=$name" -out "$work/$out.csr" 2>/dev/null
  cat >"$work/$out.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$(san_of "$name")
EXT
  if [ -z "$start" ]; then
    openssl x509 -req -in "$work/$out.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 365 -sha256 \
      -extfile "$work/$out.ext" -out "$out.pem" 2>/dev/null
  else
    # openssl x509 cannot date a certificate in the past: openssl ca with a database of its own.
    mkdir -p "$work/db" && : >"$work/db/index" && echo 01 >"$work/db/serial"
    cat >"$work/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $work/db/index
serial = $work/db/serial
new_certs_dir = $work/db
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
    openssl ca -batch -config "$work/ca.cnf" -cert ca.pem -keyfile ca.key -in "$work/$out.csr" \
      -startdate "$start" -enddate "$end" -extfile "$work/$out.ext" -notext -out "$out.pem" 2>/dev/null
  fi
}
issue server "$host"
issue other other.invalid
issue expired "$host" 20200101000000Z 20200131000000Z
rm -f ca.srl
