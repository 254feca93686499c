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

# The bounds of the readers: small zips that inflate past what one cell, one tag, one run of
# blanks, one row or the nesting may take, and what the readers pass over at any length. Written
# deflated with a fixed time, so that the seeds stay small and the same from run to run.
def zipped(parts):
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 5, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return out.getvalue()


def bounded_xlsx(sheet, strings=''):
    return zipped([('_rels/.rels', f'<Relationships><Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>'),
                   ('xl/_rels/workbook.xml.rels',
                    f'<Relationships><Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
                    f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/></Relationships>'),
                   ('xl/workbook.xml', f'<workbook {NS}><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>'),
                   ('xl/worksheets/sheet1.xml', f'<worksheet {NS}><sheetData><row r="1"><c r="A1"><v>1</v></c></row>{sheet}</sheetData></worksheet>'),
                   ('xl/sharedStrings.xml', f'<sst {NS}>{strings}</sst>')])


def bounded_ods(cells):
    return zipped([('mimetype', 'application/vnd.oasis.opendocument.spreadsheet'),
                   ('content.xml', '<office:document-content xmlns:office="o" xmlns:table="t" xmlns:text="x"><office:body>'
                                   '<office:spreadsheet><table:table table:name="S"><table:table-row>' + cells +
                                   '</table:table-row></table:table></office:spreadsheet></office:body></office:document-content>')])


MB = 1 << 20
write('xlsx', 'bounded-cell.xlsx', bounded_xlsx('<row r="2"><c r="B2" t="inlineStr"><is><t>' + 'x' * (MB + 1) + '</t></is></c></row>'))
write('xlsx', 'bounded-runs.xlsx', bounded_xlsx('<row r="2"><c t="inlineStr"><is>' + ('<r><t>' + 'y' * (64 << 10) + '</t></r>') * 17 + '</is></c></row>'))
write('xlsx', 'bounded-string.xlsx', bounded_xlsx('<row r="2"><c t="s"><v>0</v></c></row>', '<si><t>' + 'z' * (MB + 1) + '</t></si>'))
write('xlsx', 'bounded-attribute.xlsx', bounded_xlsx('<row r="2"><c r="A2" x="' + 'a' * (MB + 1) + '"><v>1</v></c></row>'))
write('xlsx', 'bounded-blanks.xlsx', bounded_xlsx('<row r="2">' + ' ' * (MB + 1) + '<c><v>1</v></c></row>'))
write('xlsx', 'bounded-row.xlsx', bounded_xlsx('<row r="2">' + ('<c t="inlineStr"><is><t>' + 'r' * (MB - 16) + '</t></is></c>') * 17 + '</row>'))
write('xlsx', 'bounded-skipped.xlsx', bounded_xlsx('<!--' + '-' * (3 * MB) + '--><?pi ' + '?' * (2 * MB) + '?>'
                                                   '<row r="2"><c r="B2"><f>' + 'f' * (3 * MB) + '</f><v>7</v></c></row>'
                                                   '<extLst><![CDATA[' + ']' * (2 * MB) + ']]></extLst>'))
write('xlsx', 'bounded-nesting.txt', '<sheetData><row r="1"><c r="A1"><v>1</v>' + '<x>' * 300 + '</c></row></sheetData>')
write('ods', 'bounded-text.ods', bounded_ods('<table:table-cell office:value-type="string"><text:p>' + 't' * (MB + 1) + '</text:p></table:table-cell>'))
write('ods', 'bounded-paragraphs.ods', bounded_ods('<table:table-cell office:value-type="string">' + '<text:p/>' * (MB + 2) + '</table:table-cell>'))
write('ods', 'bounded-spaces.txt', '<office:document-content xmlns:office="o" xmlns:table="t" xmlns:text="x"><office:body><office:spreadsheet>'
                                   '<table:table table:name="S"><table:table-row><table:table-cell office:value-type="string"><text:p>a'
                                   '<text:s text:c="9223372036854775807"/></text:p></table:table-cell></table:table-row></table:table>'
                                   '</office:spreadsheet></office:body></office:document-content>')
# fuzz_textlines repeats an input starting with "~" past the longest line the reader keeps.
write('text', 'bounded-line.txt', b'~' + b'\0' * 100 + b'\r')
write('text', 'bounded-record.txt', b'~2' + bank.encode('cp950')[:60])
