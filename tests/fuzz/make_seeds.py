#!/usr/bin/env python3
"""Writes the small seed corpus of the fuzz targets into tests/fuzz/corpus/ (run once; the files
are kept in the repository so that fuzzing needs nothing else)."""
import io
import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
NS = ('xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
      'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"')
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode('utf-8'))


def xlsx(sheet, strings='', styles=''):
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED) as z:
        z.writestr('_rels/.rels', f'<Relationships><Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr('xl/_rels/workbook.xml.rels',
                   f'<Relationships><Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
                   f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
                   f'<Relationship Id="rId3" Type="{REL}/styles" Target="styles.xml"/></Relationships>')
        z.writestr('xl/workbook.xml', f'<workbook {NS}><workbookPr date1904="0"/><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr('xl/worksheets/sheet1.xml', f'<worksheet {NS}>{sheet}</worksheet>')
        z.writestr('xl/sharedStrings.xml', f'<sst {NS}>{strings}</sst>')
        z.writestr('xl/styles.xml', f'<styleSheet {NS}>{styles}</styleSheet>')
    return out.getvalue()


SHEET = ('<dimension ref="A1:C4"/><sheetData>'
         '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr"><is><t>帳號</t></is></c></row>'
         '<row r="2"><c r="A2" s="1"><v>45296.5</v></c><c r="B2"><v>9515088000000010</v></c><c r="C2" t="b"><v>1</v></c></row>'
         '<row r="3"><c r="A3" t="str"><f>A1&amp;"x"</f><v>fx</v></c><c r="B3" t="e"><v>#N/A</v></c></row>'
         '<row r="4"><c t="s"><v>1</v></c><c><v>1,500</v></c><c r="C4" t="d"><v>2024-01-05T10:00:00</v></c></row>'
         '</sheetData>')
STRINGS = ('<si><t>客戶名稱</t></si><si><r><rPr><b/></rPr><t>Rich</t></r><r><t xml:space="preserve"> _x000D_ &amp;</t></r>'
           '<rPh sb="0" eb="1"><t>ふ</t></rPh></si>')
STYLES = ('<numFmts count="1"><numFmt numFmtId="164" formatCode="[Red]&quot;on &quot;yyyy/mm/dd"/></numFmts>'
          '<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="164"/></cellXfs>')

write('xlsx', 'packed.txt', SHEET + '\n--\n' + STRINGS + '\n--\n' + STYLES)
write('xlsx', 'whole.xlsx', xlsx(SHEET, STRINGS, STYLES))
write('xlsx', 'empty.txt', '<sheetData/>')

write('csv', 'utf8.csv', '\ufeff名稱,金額\r\n"王, 小明","1,500"\r\n"say ""hi""",007\n"two\nlines",\r\n')
write('csv', 'big5.csv', '名稱,帳號\r\n王小明,9515088000000010\r\n'.encode('cp950'))
write('csv', 'blank.csv', '\r\n,\r\nA,1\r')

bank = ('00012345678' + '1130105' + '0000' + '00000001500' + ' ' * 14 + '95120001'.ljust(25) + '\r\n')
write('text', 'bank.txt', ('HEADER 銀行入帳明細\r\n' + bank + '王小明00000' + bank[11:]).encode('cp950') + b'\x81\x20\r\n')
store = ('2' + 'C0000001' + 'R0000001' + 'S0000001' + ' ' * 19 + '20240105' + '20240104' + 'B00000001'
         + 'B2'.ljust(20) + '000000000001500' + '\r\n')
write('text', 'store.txt', ('1HEADER\r\n' + store + '3TRAILER').encode('cp950'))

write('ini', 'credentials.ini', '[ENV]\r\n使用者名稱=0123456789ABCDEF\r\n使用者密碼 = "FEDCBA9876543210"\r\n'.encode('cp950'))
write('ini', 'odd.ini', '; note\r\n[env\r\n[ENV]\r\n=novalue\r\nkey\r\n使用者名稱=' + 'x' * 300 + '\r\n')
