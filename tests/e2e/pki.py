"""Throwaway certificate authorities and code-signing certificates, made with openssl, and
Authenticode signatures made with osslsigncode, for the end-to-end runs."""

import subprocess
from pathlib import Path

CONFIG = """\
[req]
distinguished_name = dn
prompt = no
[dn]
CN = {name}
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code_signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server_auth]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[hardware_programme]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = 1.3.6.1.4.1.311.10.3.5
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def _openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)


class Authority:
    """A CA and one signing certificate it issued, in `folder`; `usage` names the signer's
    extended key usage: code_signing, server_auth or hardware_programme (Windows Hardware
    Driver Verification only)."""

    def __init__(self, folder, name, usage="code_signing"):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.config = self.folder / "openssl.cnf"
        self.config.write_text(CONFIG.format(name=name + " Root"))
        self.ca_key, self.ca_pem = self.folder / "ca.key", self.folder / "ca.pem"
        self.ca_der = self.folder / "ca.der"
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(self.ca_key),
                 "-out", str(self.ca_pem), "-days", "30", "-config", str(self.config),
                 "-extensions", "ca")
        _openssl("x509", "-in", str(self.ca_pem), "-outform", "DER", "-out", str(self.ca_der))
        self.signer_key, self.signer_pem = self.folder / "signer.key", self.folder / "signer.pem"
        request = self.folder / "signer.csr"
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", str(self.signer_key), "-out",
                 str(request), "-subj", "/CN=%s Publisher/O=QZ test" % name)
        _openssl("x509", "-req", "-in", str(request), "-CA", str(self.ca_pem), "-CAkey",
                 str(self.ca_key), "-CAcreateserial", "-out", str(self.signer_pem), "-days", "30",
                 "-extfile", str(self.config), "-extensions", usage)

    def pkcs12(self, password):
        """The signer's key and chain as PKCS #12, and a file holding its password."""
        bundle = self.folder / "signer.p12"
        password_file = self.folder / "password.txt"
        password_file.write_text(password + "\n")
        _openssl("pkcs12", "-export", "-in", str(self.signer_pem), "-inkey", str(self.signer_key),
                 "-certfile", str(self.ca_pem), "-out", str(bundle), "-passout",
                 "file:" + str(password_file))
        return bundle, password_file

    def signer_thumbprint(self):
        """The SHA-1 thumbprint under which Windows files the signer's certificate."""
        out = subprocess.run(["openssl", "x509", "-in", str(self.signer_pem), "-noout",
                              "-fingerprint", "-sha1"], check=True, stdout=subprocess.PIPE,
                             text=True, timeout=60).stdout
        return out.strip().split("=", 1)[1].replace(":", "").upper()

    def sign(self, unsigned, signed, with_root=False, by_ca=False):
        """Signs a file (a PE file or a catalog) with the signer's certificate, SHA-256, or
        with the CA's own when `by_ca`. The signature carries the signer's certificate, and
        the root's too when asked."""
        certificates, key = self.signer_pem, self.signer_key
        if by_ca:
            certificates, key = self.ca_pem, self.ca_key
        elif with_root:
            certificates = self.folder / "chain.pem"
            certificates.write_bytes(self.signer_pem.read_bytes() + self.ca_pem.read_bytes())
        subprocess.run(["osslsigncode", "sign", "-certs", str(certificates), "-key", str(key),
                        "-h", "sha256", "-in", str(unsigned), "-out", str(signed)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
