#!/bin/sh
# Makes the foreign_*.dbf tables with shapelib's dbfcreate and dbfadd, a dBASE writer
# that shares no code with ours. Not run by the build: the tables are committed, and
# running this again rewrites them byte for byte (dbfcreate stamps a fixed date).
#
# What the tables are for:
#   - fields in another order than ours, with lower and mixed case names, an extra field;
#   - numeric ids of other widths and with decimals: "-n LisId 15 5" writes 111111111 as
#     "111111111.00000", and the 32-bit extremes do not fit 15 bytes with five decimals,
#     so dbfadd cuts them short ("2147483647.0000", "-2147483648.000") without a word;
#   - an empty numeric value (dbfadd fills it with '*'), a value past the 32-bit range,
#     a non-whole value, texts with leading blanks;
#   - CP1252 text: dbfcreate writes language driver 0x57 and no .cpg, so the bytes below
#     are CP1252 (f1 = ñ, 80 = €, 97 = em dash, ab/bb = « », d3 = Ó, e1/ed/fa = á í ú).
set -eu
cd "$(dirname "$0")"
rm -f foreign_listas.dbf foreign_document.dbf foreign_lisdoc.dbf

dbfcreate foreign_listas.dbf -s lisDesc 40 -n LisId 15 5
dbfadd foreign_listas.dbf "Favoritas" 111111111
dbfadd foreign_listas.dbf " a" 2
dbfadd foreign_listas.dbf "$(printf 'Ma\361ana \200 \227 \253\323pera\273')" 3
dbfadd foreign_listas.dbf "" 4
dbfadd foreign_listas.dbf "$(printf 'Sin n\372mero')" ""
dbfadd foreign_listas.dbf "$(printf 'M\341ximo')" 2147483647
dbfadd foreign_listas.dbf "$(printf 'M\355nimo')" -2147483648
dbfadd foreign_listas.dbf "Favoritas otra vez" 111111111
dbfadd foreign_listas.dbf "  espacios  " 0
dbfadd foreign_listas.dbf "Negativa" -1

dbfcreate foreign_document.dbf -s Nota 8 -s docpath 254 -n DocId 17 5
dbfadd foreign_document.dbf "uno" "$(printf '/m\372sica/a\361o.mp3')" 1
dbfadd foreign_document.dbf "" "/max.ogg" 2147483647
dbfadd foreign_document.dbf "" "/min.ogg" -2147483648
dbfadd foreign_document.dbf "fuera" "/fuera.ogg" 2147483648
dbfadd foreign_document.dbf "medio" "/medio.ogg" 1.5
# 254 bytes: "/" + 252 times "\361" + "Z", the last byte of the field taken.
dbfadd foreign_document.dbf "lleno" "/$(printf '%252s' '' | tr ' ' '\361')Z" 6
dbfadd foreign_document.dbf "" "" ""
dbfadd foreign_document.dbf "  lejos" "  /con blancos.mp3" -7

dbfcreate foreign_lisdoc.dbf -n docid 6 0 -n LISID 12 2
dbfadd foreign_lisdoc.dbf 1 111111111
dbfadd foreign_lisdoc.dbf 6 111111111
dbfadd foreign_lisdoc.dbf -7 -1
dbfadd foreign_lisdoc.dbf 1 -1
