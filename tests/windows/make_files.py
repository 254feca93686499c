#!/usr/bin/env python3
"""Writes the files the batch tool is run on, on Linux and under wine alike:
receivables.xlsx (five receivables, Chinese names), bank.txt (the bank's fixed-position records in
code page 950, Chinese names in the free text, one account the receivables lack)."""
import sys
import zipfile
from pathlib import Path
from xml.sax.saxutils import escape

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

receivables = [
    ("客戶名稱", "帳號", "應繳金額"),
    ("王小明", "9515088000000010", 1500),
    ("陳美玲", "9515088000000020", 2750),
    ("林志強", "9515088000000030", 45000),
    ("張淑芬", "9515088000000040", 800),
    ("黃建宏", "9515088000000050", 1200),
]


def cell(ref, value):
    if isinstance(value, (int, float)):
        return f'<c r="{ref}"><v>{value}</v></c>'
    return f'<c r="{ref}" t="inlineStr"><is><t>{escape(value)}</t></is></c>'


rows = "".join(
    f'<row r="{r}">' + "".join(cell(f"{'ABC'[c]}{r}", v) for c, v in enumerate(values)) + "</row>"
    for r, values in enumerate(receivables, start=1))
parts = {
    "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>',
    "_rels/.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>',
    "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="應收" sheetId="1" r:id="rId1"/></sheets></workbook>',
    "xl/_rels/workbook.xml.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>',
    "xl/worksheets/sheet1.xml": '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>' + rows + "</sheetData></worksheet>",
}
with zipfile.ZipFile(out / "receivables.xlsx", "w", zipfile.ZIP_DEFLATED) as book:
    for name, text in parts.items():
        book.writestr(name, text)


def fit(text, width):
    assert len(text) <= width, text
    return text.ljust(width)


def bank_line(name, date, amount, account):
    # Character positions 1-11 free text, 12-18 the date, 23-33 the amount, 48-72 the account.
    return (fit(name, 11) + fit(date, 7) + "TWD " + fit(amount, 11) + fit("轉帳存入", 14)
            + fit(account, 25) + "END").encode("cp950")


bank = [
    bank_line("王小明", "1131201", "00000001500", "9515088000000010"),
    bank_line("陳美玲", "1131202", "00000001000", "9515088000000020"),
    bank_line("林志強", "1131202", "00000050000", "9515088000000030"),
    bank_line("無此戶", "1131203", "00000000100", "9515088000000099"),
]
(out / "bank.txt").write_bytes(b"\r\n".join(bank) + b"\r\n")
