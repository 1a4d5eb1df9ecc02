#!/usr/bin/env python3
# Writes the seed corpus under corpus/: the table shapes the store tests make, the
# damaged ones the store must refuse or mend, and the registry call sequences.
# Each table input starts with fuzz_table.cpp's eight control bytes.
import os, struct, shutil

here = os.path.dirname(os.path.abspath(__file__))
tables = os.path.join(here, 'corpus', 'table')
registry = os.path.join(here, 'corpus', 'registry')
for d in (tables, registry):
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)

def dbf(fields, records, count=None, end=b'\x1a', version=3, ldid=0):
    header_len = 32 + 32 * len(fields) + 1
    record_len = 1 + sum(f[2] for f in fields)
    head = struct.pack('<B3BIHH', version, 126, 12, 9, len(records) if count is None else count,
                       header_len, record_len) + b'\0' * 17 + bytes([ldid]) + b'\0\0'
    for name, kind, length, decimals in fields:
        head += name.ljust(11, b'\0') + kind + b'\0' * 4 + bytes([length, decimals]) + b'\0' * 14
    return head + b'\r' + b''.join(records) + end

def rec(*values, flag=b' '):
    return flag + b''.join(values)

def num(v, width=11):
    return str(v).rjust(width).encode()

def text(s, width=254):
    return s.encode('utf-8').ljust(width)

LISTAS = [(b'LISID', b'N', 11, 0), (b'LISDESC', b'C', 254, 0)]
DOCUMENT = [(b'DOCID', b'N', 11, 0), (b'DOCPATH', b'C', 254, 0)]
LISDOC = [(b'LISID', b'N', 11, 0), (b'DOCID', b'N', 11, 0)]

def seed(name, table, edit=0, id=1, txt=b'', cpg=b'UTF-8'):
    with open(os.path.join(tables, name), 'wb') as f:
        f.write(bytes([edit]) + struct.pack('<i', id) + bytes([len(txt), len(cpg), 0]) + txt + cpg + table)

listas = [rec(num(1), text('Mi música favorita')), rec(num(2), text('Jazz')),
          rec(num(3), text('Borrada'), flag=b'*')]
docs = [rec(num(i), text('/música/pista %d.mp3' % i)) for i in range(1, 6)]
links = [rec(num(1), num(i)) for i in (1, 2, 3)] + [rec(num(2), num(4)), rec(num(2), num(5), flag=b'*')]

seed('empty_listas', dbf(LISTAS, []))
seed('empty_document', dbf(DOCUMENT, []), edit=2)
seed('empty_lisdoc', dbf(LISDOC, []), edit=2, id=7)
seed('listas', dbf(LISTAS, listas), edit=3, id=2, txt='Nueva ñ'.encode())
seed('document', dbf(DOCUMENT, docs), edit=1, id=3)
seed('lisdoc', dbf(LISDOC, links), edit=3, id=2)
seed('lisdoc_duplicate_ids', dbf(LISDOC, links + links), edit=1, id=1)
seed('largest_id', dbf(LISTAS, [rec(num(2147483647), text('última'))]), edit=2, id=-2147483648)
seed('text_too_long', dbf(LISTAS, listas), edit=2, txt=b'x' * 255)
seed('cp1252', dbf(LISTAS, listas, ldid=0x57), edit=2, txt='€ ñ'.encode(), cpg=b'')
seed('cp850_no_cpg', dbf(LISTAS, listas), edit=2, txt='€'.encode(), cpg=b'')
for i, page in enumerate((b'1252', b'ANSI 1252', b'UTF-16', b'UTF-8\0junk', b'UTF-7', b'ISO-2022-JP', b'CP1252//x')):
    seed('cpg_%d' % i, dbf(LISTAS, listas), edit=2, txt='fuzz ñ'.encode(), cpg=page)
# What an interrupted append leaves past the count: a whole record (its flag still the
# end mark, or already blank), part of one, the zeros of one a power cut kept from the
# disk; and data that is not ours.
seed('tail_whole_record', dbf(DOCUMENT, docs, count=4), edit=2, id=5)
seed('tail_behind_end_mark', dbf(DOCUMENT, docs[:4], end=b'\x1a' + docs[4][1:] + b'\x1a'), edit=2, id=5)
seed('tail_partial_record', dbf(DOCUMENT, docs[:4], end=docs[4][:40]), edit=2, id=5)
seed('tail_zeros', dbf(DOCUMENT, docs[:4], end=b'\0' * 266), edit=2, id=5)
seed('tail_unknown_300_bytes', dbf(LISDOC, links, end=b'\x1a' + bytes(range(256)) + b'x' * 43), edit=2)
seed('no_end_mark', dbf(LISDOC, links, end=b''), edit=2)
seed('count_beyond_records', dbf(LISDOC, links, count=1000, end=b' 1'), edit=1)
# A header that counts a record the disk never got: a torn row, then every "Nueva" used
# to fail on the last row's missing id.
seed('ghost_row', dbf(LISTAS, listas[:2] + [b'\0' * 266]), edit=2, id=3)
seed('foreign_fields', dbf([(b'NOTA', b'C', 10, 0), (b'DocPath', b'C', 40, 0), (b'docid', b'N', 17, 5)],
                           [rec(text('n', 10), text('/a.mp3', 40), num('7.00000', 17))]), edit=3, id=7)
seed('not_dbase', b'esto no es dBASE')
seed('short_header', dbf(LISTAS, [])[:40])
seed('header_past_end', dbf(LISTAS, [])[:8] + b'\xff\x7f' + dbf(LISTAS, [])[10:])
for name in sorted(os.listdir(os.path.join(here, '..', 'data'))):
    if name.endswith('.dbf'):
        with open(os.path.join(here, '..', 'data', name), 'rb') as f:
            seed('fixture_' + name[:-4], f.read(), edit=3, id=2, cpg=b'')

def call(op, *texts):
    return bytes([op]) + b''.join(bytes([len(t)]) + t for t in texts)

sequences = {
    'set_get_text': call(0x00, b'Software\\Melofon', b'Nombre', b'valor') + call(0x03, b'Software\\Melofon', b'Nombre', b'\1\0\1'),
    'dword_and_binary': call(0x01, b'Software\\M', b'n', b'\x05\x01') + call(0x02, b'Software\\M', b'b', b'\0\1\2') +
                        call(0x05, b'Software\\M', b''),
    'delete_tree': call(0x00, b'Software\\M\\A\\B', b'v', b'x') + call(0x04, b'Software\\M', b'') + call(0x05, b'Software', b''),
    'associate': call(0x26, b'', b'.mp3', b'/usr/bin/melofon', b'"%1"', b'\1', b'Melofon.Audio', b'Sonido') + call(0x27, b'', b'.mp3'),
    'folders': call(0x08, b'', b'Personal', b'\3') + call(0x09, b'Software', b'.mp3'),
}
for name, data in sequences.items():
    with open(os.path.join(registry, name), 'wb') as f:
        f.write(data)
