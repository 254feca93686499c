#include "results/LookupOnServer.h"

#include "platform/Error.h"
#include "results/Lookup.h"

#include <QChar>
#include <QString>

namespace talvesk::results::onserver {

namespace {

// The characters of the Basic Multilingual Plane (surrogates aside) that `holds` picks, as a
// regular expression's bracket contents in \uXXXX escapes, ranges joined. The desk reads a text a
// UTF-16 unit at a time with Qt's own tables: the server is given the same set from them.
template <typename Holds>
std::string bracketOf(Holds holds)
{
    std::string out;
    auto escape = [](char32_t c) { return QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0')).toStdString(); };
    for (char32_t c = 1; c <= 0xFFFF; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || !holds(QChar(char16_t(c))))
            continue;
        char32_t last = c;
        while (last < 0xFFFF && !(last + 1 >= 0xD800 && last + 1 <= 0xDFFF) && holds(QChar(char16_t(last + 1))))
            ++last;
        out += escape(c);
        if (last > c)
            out += '-' + escape(last);
        c = last;
    }
    return out;
}

// The decimal digits other than 0-9 (fullwidth, other scripts), and the ASCII digit each stands
// for, for translate().
void otherDigits(std::string &digits, std::string &values)
{
    QString from, to;
    for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const QChar ch{char16_t(c)};
        if (ch.isDigit()) {
            from += ch;
            to += QChar(char16_t(u'0' + ch.digitValue()));
        }
    }
    digits = from.toStdString();
    values = to.toStdString();
}

// An amount the server's own conversion reads as the desk does, short enough that no sum or
// difference of two overflows; or nothing at all.
const std::string kPlain = "^(-?[0-9]{1,15}(\\.[0-9]{1,15})?)?$";

std::string quoted(const QString &text)
{
    return '\'' + text.toStdString() + '\'';
}

} // namespace

std::string schemaSql()
{
    std::string digits, values;
    otherDigits(digits, values);
    const std::string blanks = bracketOf([](QChar c) { return c.isSpace(); });
    const auto status = [](Status s) { return std::to_string(static_cast<int>(s)); };

    return
        // The number at the start of an amount, as the desk reads it: blanks anywhere dropped, a
        // comma only between two digits, a sign, digits, a point, an exponent (E or D) only with
        // digits after it; nothing read is 0. The value is the one the C library's strtod gives
        // for the digits read: the number is written anew as 0.<digits>E<place>, its significant
        // digits cut after 800 with a last 1 standing for the rest (so it rounds as the whole
        // does), and whatever the server would refuse as out of range (it fails where strtod gives
        // infinity or zero) is told here, by exact decimal comparison at the two edges.
        // (Told to the planner as cheap: it is seldom reached, plain amounts being read inline,
        // and a dear estimate would have it scan the table in parallel where an index serves.)
        "CREATE OR REPLACE FUNCTION talvesk_amount_read(t text) RETURNS double precision\n"
        "LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE COST 1 AS $f$\n"
        "DECLARE\n"
        "  p text[];\n"
        "  sign text;\n"
        "  digits text;\n"
        "  significant text;\n"
        "  exponent bigint := 0;\n"
        "  place bigint;\n"
        "BEGIN\n"
        "  p := regexp_match(translate(substring(translate(t, E' \\t\\n\\r', '') FROM\n"
        "         '^[+-]?(?:[0-9]+(?:,[0-9]+)*)?(?:\\.(?:[0-9]+(?:,[0-9]+)*)?)?(?:[EeDd][+-]?[0-9]+(?:,[0-9]+)*)?'), ',', ''),\n"
        "       '^([+-]?)([0-9]*)\\.?([0-9]*)(?:[EeDd]([+-]?)([0-9]+))?$');\n"
        "  IF p[2] = '' AND p[3] = '' THEN RETURN 0; END IF;\n"
        "  sign := CASE WHEN p[1] = '-' THEN '-' ELSE '' END;\n"
        "  digits := p[2] || p[3];\n"
        "  significant := rtrim(ltrim(digits, '0'), '0');\n"
        "  IF significant = '' THEN RETURN (sign || '0')::double precision; END IF;\n"
        "  IF p[5] IS NOT NULL THEN\n"
        "    -- Past nine digits the exponent is out of every range either way.\n"
        "    exponent := CASE WHEN length(ltrim(p[5], '0')) > 9 THEN 1000000000 ELSE ('0' || ltrim(p[5], '0'))::bigint END;\n"
        "    IF p[4] = '-' THEN exponent := -exponent; END IF;\n"
        "  END IF;\n"
        "  -- The place of the first significant digit: 10 to the power of it.\n"
        "  place := exponent + length(p[2]) - (length(digits) - length(ltrim(digits, '0'))) - 1;\n"
        "  IF place > 308 THEN RETURN (sign || 'Infinity')::double precision; END IF;\n"
        "  IF place < -324 THEN RETURN (sign || '0')::double precision; END IF;\n"
        "  IF length(significant) > 800 THEN significant := left(significant, 800) || '1'; END IF;\n"
        "  IF place = 308 AND ('0.' || significant)::numeric * '1e309'::numeric >= 2::numeric ^ 1024 - 2::numeric ^ 970 THEN\n"
        "    RETURN (sign || 'Infinity')::double precision;\n"
        "  END IF;\n"
        "  IF place = -324 AND ('0.' || significant)::numeric * 2::numeric ^ 1075 <= '1e323'::numeric THEN\n"
        "    RETURN (sign || '0')::double precision;\n"
        "  END IF;\n"
        "  RETURN (sign || '0.' || significant || 'E' || (place + 1))::double precision;\n"
        "END $f$;\n"
        // Plain amounts, nearly all of them, are read by the server's own conversion (the same
        // strtod), inline in the statement; the rest by the reading above.
        "CREATE OR REPLACE FUNCTION talvesk_amount(t text) RETURNS double precision\n"
        "LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$\n"
        "SELECT CASE WHEN t ~ '" + kPlain + "' THEN coalesce(nullif(t, '')::double precision, 0)\n"
        "            ELSE coalesce(talvesk_amount_read(t), 0) END\n"
        "$f$;\n"
        // The amount due less the amount credited, as the desk's double arithmetic gives it:
        // beyond the largest number it is infinity (where the server would fail), and infinity
        // less itself, no number at all, is NULL, which the desk's engine makes of it too.
        "CREATE OR REPLACE FUNCTION talvesk_outstanding_far(total text, paid text) RETURNS double precision\n"
        "LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE COST 1 AS $f$\n"
        "DECLARE\n"
        "  a double precision := talvesk_amount(total);\n"
        "  b double precision := talvesk_amount(paid);\n"
        "  half double precision;\n"
        "BEGIN\n"
        "  IF a = b THEN RETURN CASE WHEN a IN ('Infinity', '-Infinity') THEN NULL ELSE a - b END; END IF;\n"
        "  IF abs(a) < 1e300 AND abs(b) < 1e300 THEN RETURN a - b; END IF;\n"
        "  half := a / 2 - b / 2;\n"
        "  IF abs(half) <= '1.7976931348623157e308'::double precision / 2 THEN RETURN half * 2; END IF;\n"
        "  RETURN CASE WHEN half > 0 THEN 'Infinity' ELSE '-Infinity' END;\n"
        "END $f$;\n"
        // Plain amounts cannot overflow: their difference inline, the rest above.
        "CREATE OR REPLACE FUNCTION talvesk_outstanding(total text, paid text) RETURNS double precision\n"
        "LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$\n"
        "SELECT CASE WHEN coalesce(total, '') ~ '" + kPlain + "' AND coalesce(paid, '') ~ '" + kPlain + "'\n"
        "            THEN talvesk_amount(total) - talvesk_amount(paid) ELSE talvesk_outstanding_far(total, paid) END\n"
        "$f$;\n"
        // Where a receivable stands: no payment date (nothing but blanks), or the amount due
        // against the amount credited.
        // (Inline in the statement, as the amounts are: the index over it is made as fast as rows
        // come.)
        "CREATE OR REPLACE FUNCTION talvesk_status(paydate text, total text, paid text) RETURNS integer\n"
        "LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$\n"
        "SELECT CASE WHEN paydate IS NULL OR paydate ~ '^[" + blanks + "]*$' THEN " + status(Status::Unpaid) + "\n"
        "            WHEN talvesk_amount(total) > talvesk_amount(paid) THEN " + status(Status::Partial) + "\n"
        "            WHEN talvesk_amount(total) < talvesk_amount(paid) THEN " + status(Status::Overpaid) + "\n"
        "            ELSE " + status(Status::Paid) + " END\n"
        "$f$;\n"
        "CREATE OR REPLACE FUNCTION talvesk_status_caption(paydate text, total text, paid text) RETURNS text\n"
        "LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$\n"
        "SELECT CASE talvesk_status(paydate, total, paid) WHEN " + status(Status::Unpaid) + " THEN "
        + quoted(statusCaption(Status::Unpaid)) + " WHEN " + status(Status::Partial) + " THEN "
        + quoted(statusCaption(Status::Partial)) + " WHEN " + status(Status::Paid) + " THEN "
        + quoted(statusCaption(Status::Paid)) + " ELSE " + quoted(statusCaption(Status::Overpaid)) + " END\n"
        "$f$;\n"
        // The payment date's digits (any script's) as one number of at most twelve digits, -1
        // when it has none.
        "CREATE OR REPLACE FUNCTION talvesk_date(paydate text) RETURNS bigint\n"
        "LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $f$\n"
        "DECLARE\n"
        "  d text := coalesce(paydate, '');\n"
        "BEGIN\n"
        "  IF d !~ '^[\\u0001-\\u007f]*$' THEN d := translate(d, '" + digits + "', '" + values + "'); END IF;\n"
        "  d := regexp_replace(d, '[^0-9]+', '', 'g');\n"
        "  IF d = '' THEN RETURN -1; END IF;\n"
        "  RETURN ('0' || left(ltrim(d, '0'), 12))::bigint;\n"
        "END $f$;\n"
        // Fragments of the three columns, found as the desk finds them (byte for byte, ASCII
        // letters in either case): through trigrams, compared in the C collation.
        "CREATE INDEX IF NOT EXISTS F_AccountData_Bankcode_trigrams ON F_AccountData USING gin (Bankcode COLLATE \"C\" gin_trgm_ops);\n"
        "CREATE INDEX IF NOT EXISTS F_AccountData_UserName_trigrams ON F_AccountData USING gin (UserName COLLATE \"C\" gin_trgm_ops);\n"
        "CREATE INDEX IF NOT EXISTS F_AccountData_UserNum_trigrams ON F_AccountData USING gin (UserNum COLLATE \"C\" gin_trgm_ops);\n"
        // The outstanding order, and a status asked for (in that order, or a rare status in table
        // order, its few receivables sorted), read from indexes rather than worked out for every
        // receivable. A common status in table order is found soon enough by reading in order.
        "CREATE INDEX IF NOT EXISTS F_AccountData_status ON F_AccountData (talvesk_status(PayDate, Total, PayTotal), "
        "talvesk_outstanding(Total, PayTotal) NULLS FIRST, rid);\n"
        "CREATE INDEX IF NOT EXISTS F_AccountData_outstanding ON F_AccountData (talvesk_outstanding(Total, PayTotal) NULLS FIRST, rid);\n";
}

void requireLookupObjects(platform::Database &server)
{
    platform::Statement found = server.prepare(
        "SELECT to_regprocedure('talvesk_amount(text)') IS NOT NULL AND to_regprocedure('talvesk_amount_read(text)') IS NOT NULL "
        "AND to_regprocedure('talvesk_outstanding(text, text)') IS NOT NULL "
        "AND to_regprocedure('talvesk_outstanding_far(text, text)') IS NOT NULL "
        "AND to_regprocedure('talvesk_status(text, text, text)') IS NOT NULL "
        "AND to_regprocedure('talvesk_status_caption(text, text, text)') IS NOT NULL "
        "AND to_regprocedure('talvesk_date(text)') IS NOT NULL");
    if (!found.next() || found.integer(0) != 1)
        throw platform::Error(platform::errnum::Database,
                              QStringLiteral("伺服器的資料庫沒有帳款查詢所需的函式（talvesk_status 等），它是由較早版本的 "
                                             "talvesk-batch server-init 建立的；請以新版的 server-init 建立資料庫後再查詢"));
}

} // namespace talvesk::results::onserver
