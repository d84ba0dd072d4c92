"""An unsigned driver catalog, encoded here in DER field by field.

A catalog is a PKCS #7 SignedData whose content is a certificate trust list (CTL) of the
package's file hashes. Signing adds a signer to the SignedData (osslsigncode does that). Each
member is a file's hash as Windows' catalogs carry it: its tag (the hash in upper-case hex,
UTF-16LE) and an SpcIndirectDataContent with the digest. Wine stages a package whose named
catalog is present and decodes, whatever it lists.
"""

import hashlib

SIGNED_DATA = "1.2.840.113549.1.7.2"
CERTIFICATE_TRUST_LIST = "1.3.6.1.4.1.311.10.1"
CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
CATALOG_LIST_MEMBER = "1.3.6.1.4.1.311.12.1.2"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_CAB_DATA = "1.3.6.1.4.1.311.2.1.25"
DIGESTS = {"sha1": "1.3.14.3.2.26", "sha256": "2.16.840.1.101.3.4.2.1"}


def _length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def _tlv(tag, content):
    return bytes([tag]) + _length(len(content)) + content


def _sequence(*items):
    return _tlv(0x30, b"".join(items))


def _set(*items):
    return _tlv(0x31, b"".join(sorted(items)))


def _oid(text):
    parts = [int(p) for p in text.split(".")]
    body = bytes([40 * parts[0] + parts[1]])
    for value in parts[2:]:
        chunk = [value & 0x7F]
        value >>= 7
        while value:
            chunk.append(0x80 | (value & 0x7F))
            value >>= 7
        body += bytes(reversed(chunk))
    return _tlv(0x06, body)


def _integer(value):
    return _tlv(0x02, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big"))


def _explicit(number, content):
    return _tlv(0xA0 | number, content)


def _member(algorithm, digest):
    tag = digest.hex().upper().encode("utf-16-le")
    indirect = _sequence(_sequence(_oid(SPC_CAB_DATA)),
                         _sequence(_sequence(_oid(DIGESTS[algorithm]), _tlv(0x05, b"")),
                                   _tlv(0x04, digest)))
    return _sequence(_tlv(0x04, tag), _set(_sequence(_oid(SPC_INDIRECT_DATA), _set(indirect))))


def member_of(data, algorithm="sha256"):
    """The member a catalog lists for a file of these bytes."""
    return algorithm, hashlib.new(algorithm, data).digest()


def unsigned_catalog(identifier=b"QZ test catalog!", when="250101000000Z", members=()):
    """`members`: (hash name, digest) pairs, as member_of gives them."""
    fields = [
        _sequence(_oid(CATALOG_LIST)),                             # subject usage
        _tlv(0x04, identifier),                                    # list identifier
        _tlv(0x17, when.encode("ascii")),                          # this update (UTCTime)
        _sequence(_oid(CATALOG_LIST_MEMBER), _tlv(0x05, b"")),     # subject algorithm
    ]
    if members:
        fields.append(_sequence(*[_member(a, d) for a, d in members]))  # trusted subjects
    trust_list = _sequence(*fields)
    signed_data = _sequence(
        _integer(1),                                               # version
        _set(),                                                    # digest algorithms
        _sequence(_oid(CERTIFICATE_TRUST_LIST), _explicit(0, trust_list)),
        _set(),                                                    # no signers yet
    )
    return _sequence(_oid(SIGNED_DATA), _explicit(0, signed_data))
