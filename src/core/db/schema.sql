-- The tables of Vellaroke.mdb. Installation runs this once on a new file; the program itself
-- never alters or drops a table, and creates only the journal's tables (db/Journal.cpp), on
-- opening a database that lacks them. Every column holds text; inserts give their values by
-- position, so the column order is fixed.

CREATE TABLE F_AccountData (
    UserName   TEXT,
    UserNum    TEXT,
    Memo       TEXT,
    Bankcode   TEXT,
    Total      TEXT,
    PayDate    TEXT,
    PayTotal   TEXT,
    N_PayTotal TEXT,
    Spare      TEXT
);

CREATE TABLE SMdata (
    REC      TEXT,
    C_NUM    TEXT,
    R_NUM    TEXT,
    R_M_NUM  TEXT,
    TR_DATE  TEXT,
    PAY_DATE TEXT,
    BARCODE1 TEXT,
    BARCODE2 TEXT,
    BARCODE3 TEXT,
    P_TOTAL  TEXT
);

CREATE TABLE ImportSetting (
    item1 TEXT,
    item2 TEXT,
    item3 TEXT,
    item4 TEXT,
    item5 TEXT
);

CREATE TABLE ImportSetting1 (
    item1 TEXT,
    item2 TEXT,
    item3 TEXT,
    item4 TEXT,
    item5 TEXT,
    item6 TEXT
);

-- The per-row lookups of the imports go through these.
CREATE INDEX F_AccountData_Bankcode ON F_AccountData (Bankcode);
CREATE INDEX SMdata_BARCODE2 ON SMdata (BARCODE2);
