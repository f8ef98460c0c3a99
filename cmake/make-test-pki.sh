#!/bin/sh
# Makes the test PKI in $1. Keys are fresh for every PKI folder.
set -eu
dir=$1
cd "$dir"
days=3650

cat > ext.cnf <<'CNF'
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
authorityKeyIdentifier = keyid
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
CNF

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days $days \
  -subj "/CN=NorvantaWin Test Root CA" -keyout root.key -out root.pem \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "subjectKeyIdentifier=hash"
openssl x509 -in root.pem -outform DER -out root.der

issue() { # name subject extension-section
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "$2" -keyout "$1.key" -out "$1.csr"
  openssl x509 -req -in "$1.csr" -CA root.pem -CAkey root.key -CAcreateserial \
    -sha256 -days $days -extfile ext.cnf -extensions "$3" -out "$1.pem"
  rm -f "$1.csr"
  openssl x509 -in "$1.pem" -noout -fingerprint -sha1 |
    sed 's/.*=//; s/://g' | tr 'A-F' 'a-f' > "$1.thumbprint"
}

issue server "/CN=localhost" server
issue publisher "/O=Kavori Test/CN=Kavori Test Publisher" codesign
issue publisher2 "/O=Other Test/CN=Other Test Publisher" codesign
cat server.pem server.key > server-bundle.pem
