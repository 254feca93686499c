#include "platform/Postgres.h"

#include <cctype>

#include "platform/Error.h"

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <utility>

namespace talvesk::platform::pg {

namespace {

// libpq's words on one line: its messages end with a line feed and indent their hints.
QString oneLine(const char *text)
{
    return text ? QString::fromUtf8(text).simplified() : QString();
}

QString inParentheses(const QString &words)
{
    return words.isEmpty() ? QString() : QStringLiteral("（") + words + QStringLiteral("）");
}

QString afterColon(const QString &words)
{
    return words.isEmpty() ? QString() : QStringLiteral("：") + words;
}

bool isConnectionLoss(const QByteArray &state)
{
    // 08: connection exceptions; 57P01-57P03: the server shutting down or restarting.
    return state.startsWith("08") || state == "57P01" || state == "57P02" || state == "57P03";
}

// A connection string that may hold a password cannot be quoted back, even in part: a string
// libpq cannot read is then reported without its words.
bool mayHoldPassword(const QByteArray &conninfo)
{
    return conninfo.toLower().contains("password") || conninfo.contains('@');
}

Error nulError()
{
    return Error(errnum::Database, QStringLiteral("文字中含有 NUL 字元，伺服器的資料庫無法儲存"));
}

void discardNotice(void *, const char *) {}

// One field of a COPY row in the text format, escaped so that tabs, line ends and backslashes
// arrive as they are (the bytes of a character beyond ASCII are never these), or NULL.
void addCopyField(const CopyField &field, QByteArray &row)
{
    if (field.null) {
        row += "\\N";
        return;
    }
    for (const char c : field.utf8) {
        switch (c) {
        case '\\':
            row += "\\\\";
            break;
        case '\t':
            row += "\\t";
            break;
        case '\n':
            row += "\\n";
            break;
        case '\r':
            row += "\\r";
            break;
        case '\0':
            // \000 would reach the server as a NUL, which text cannot hold.
            throw nulError();
        default:
            row += c;
        }
    }
}

// A whole row, its fields apart by tabs, ended by a line feed; nothing of it when a field is refused.
void addCopyRow(std::span<const CopyField> fields, QByteArray &rows)
{
    const qsizetype start = rows.size();
    try {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                rows += '\t';
            addCopyField(fields[i], rows);
        }
    } catch (...) {
        rows.truncate(start);
        throw;
    }
    rows += '\n';
}

// COPY's rows are sent in pieces of about this size.
constexpr qsizetype kCopyChunk = 256 * 1024;

} // namespace

namespace detail {

// What a connection is, kept at one address for the statements made on it and for cancel(),
// which another thread calls, while the Connection itself may move.
struct Link {
    PGconn *conn = nullptr;
    PGcancel *canceller = nullptr;
    std::atomic<bool> stopping = false;
    quint64 statements = 0;
    // The COPY … FROM STDIN that Connection::copyRow keeps open (empty: none), and its rows not
    // yet sent. It is ended before anything else is sent on the connection.
    std::string copying;
    QByteArray copyBuffer;

    ~Link()
    {
        if (canceller)
            PQfreeCancel(canceller);
        if (conn)
            PQfinish(conn);
    }

    bool connected() const { return conn && PQstatus(conn) == CONNECTION_OK; }

    QString serverName() const
    {
        const auto field = [](const char *value) { return value ? QString::fromUtf8(value) : QString(); };
        return field(PQhost(conn)) + u':' + field(PQport(conn)) + QStringLiteral(" 的資料庫 ") + field(PQdb(conn))
            + QStringLiteral("（使用者 ") + field(PQuser(conn)) + QStringLiteral("）");
    }

    Error lost(const QString &words) const
    {
        return Error(errnum::Database, QStringLiteral("與資料庫伺服器 ") + serverName() + QStringLiteral("的連線中斷了")
                                           + afterColon(words));
    }

    // Before anything is sent: the rows copyRow holds are stored first (or their failure thrown),
    // a stopped connection runs nothing more, a lost one cannot.
    void ensureUsable()
    {
        if (!copying.empty()) {
            if (stopping.load())
                abandonCopy();
            else
                endCopy();
        }
        if (stopping.load())
            throw stoppedError();
        if (!connected())
            throw lost(oneLine(PQerrorMessage(conn)));
    }

    // The failure a result tells of (or, with none, the connection), as an Error. Takes the result.
    Error failure(PGresult *result) const
    {
        if (!result) {
            const QString words = oneLine(PQerrorMessage(conn));
            return connected() ? Error(errnum::Database, QStringLiteral("資料庫錯誤") + inParentheses(words)) : lost(words);
        }
        const QByteArray state(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        QString words = oneLine(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
        if (words.isEmpty())
            words = oneLine(PQresultErrorMessage(result));
        PQclear(result);
        if (!connected() || isConnectionLoss(state))
            return lost(words);
        if (state == "57014" && stopping.load())
            return stoppedError();
        // A lock another connection holds past our wait, a deadlock, a transaction that must be
        // tried again, a server that only reads: the database in use, as on the embedded database.
        if (state == "55P03" || state == "40P01" || state == "40001")
            return Error(errnum::PermissionDenied, QStringLiteral("資料庫正被其他程式使用中，請稍後再試") + inParentheses(words));
        if (state == "25006")
            return Error(errnum::PermissionDenied, QStringLiteral("資料庫是唯讀的，無法寫入") + inParentheses(words));
        QString reason = QStringLiteral("資料庫錯誤");
        if (state == "53100")
            reason = QStringLiteral("伺服器的磁碟空間不足");
        else if (state == "53200")
            reason = QStringLiteral("伺服器的記憶體不足");
        else if (state == "42501")
            reason = QStringLiteral("沒有存取資料庫的權限");
        else if (state == "57014")
            reason = QStringLiteral("敘述執行逾時");
        else if (state.startsWith("23"))
            reason = QStringLiteral("資料不符合資料表的限制");
        else if (state.startsWith("22"))
            reason = QStringLiteral("資料的格式不正確");
        return Error(errnum::Database, reason + inParentheses(words));
    }

    // The result when the statement succeeded; otherwise its failure, thrown.
    Result checked(PGresult *result) const
    {
        const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw failure(result);
        return Result(result);
    }

    PGresult *sendWithValues(const char *sql, const std::vector<QByteArray> &values) const
    {
        std::vector<const char *> pointers;
        for (const QByteArray &value : values)
            pointers.push_back(value.constData());
        return PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, pointers.data(), nullptr, nullptr, 0);
    }

    Result execute(const char *sql)
    {
        ensureUsable();
        return checked(PQexec(conn, sql));
    }

    Result execute(const char *sql, const std::vector<QByteArray> &values)
    {
        ensureUsable();
        return checked(sendWithValues(sql, values));
    }

    // Sends the rows held for the open copy; throws its failure (the server may have refused a
    // row already, which ends the copy).
    void sendCopyData(QByteArray &rows)
    {
        if (rows.isEmpty())
            return;
        if (PQputCopyData(conn, rows.constData(), static_cast<int>(rows.size())) != 1)
            throw copyFailure();
        rows.truncate(0);
    }

    // Ends the open copy, its rows stored; throws the server's failure (it then stores none).
    void endCopy()
    {
        QByteArray rows = std::exchange(copyBuffer, QByteArray());
        try {
            sendCopyData(rows);
            if (PQputCopyEnd(conn, nullptr) != 1)
                throw copyFailure();
        } catch (...) {
            copying.clear();
            throw;
        }
        copying.clear();
        PGresult *first = PQgetResult(conn);
        while (PGresult *more = PQgetResult(conn))
            PQclear(more);
        checked(first);
    }

    // Ends the open copy without storing any of its rows (the transaction is failed with it).
    void abandonCopy() noexcept
    {
        copying.clear();
        copyBuffer.clear();
        if (PQputCopyEnd(conn, "abandoned by the client") == 1)
            while (PGresult *result = PQgetResult(conn))
                PQclear(result);
    }

    // Why a copy could not go on: the server's refusal when it sent one, otherwise the lost link.
    Error copyFailure()
    {
        copying.clear();
        copyBuffer.clear();
        PGresult *first = PQgetResult(conn);
        while (PGresult *more = PQgetResult(conn))
            PQclear(more);
        if (first && PQresultStatus(first) == PGRES_FATAL_ERROR)
            return failure(first);
        PQclear(first);
        return lost(oneLine(PQerrorMessage(conn)));
    }

    // Whether a message may be sent without harming the transaction: not while a COPY runs, not
    // in a transaction that already failed, not once stopped (a cancel may still be on its way).
    bool canSendAside() const
    {
        const PGTransactionStatusType state = connected() ? PQtransactionStatus(conn) : PQTRANS_UNKNOWN;
        return !stopping.load() && (state == PQTRANS_IDLE || state == PQTRANS_INTRANS);
    }
};

} // namespace detail

// ---- Result ----

Result::Result(Result &&other) noexcept : result_(std::exchange(other.result_, nullptr)) {}

Result &Result::operator=(Result &&other) noexcept
{
    if (this != &other) {
        PQclear(result_);
        result_ = std::exchange(other.result_, nullptr);
    }
    return *this;
}

Result::~Result()
{
    PQclear(result_);
}

int Result::rowCount() const
{
    return PQntuples(result_);
}

int Result::columnCount() const
{
    return PQnfields(result_);
}

QString Result::columnName(int column) const
{
    return QString::fromUtf8(PQfname(result_, column));
}

QByteArrayView Result::utf8(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        throw Error(errnum::Database, QStringLiteral("結果中沒有第 %1 列第 %2 欄").arg(row).arg(column));
    return QByteArrayView(PQgetvalue(result_, row, column), PQgetlength(result_, row, column));
}

QString Result::text(int row, int column) const
{
    return QString::fromUtf8(utf8(row, column));
}

bool Result::isNull(int row, int column) const
{
    utf8(row, column); // the same bounds
    return PQgetisnull(result_, row, column) != 0;
}

qint64 Result::integer(int row, int column) const
{
    const QByteArrayView field = utf8(row, column);
    bool ok = false;
    const qint64 value = field.toLongLong(&ok);
    if (!ok)
        throw Error(errnum::Database, QStringLiteral("欄位不是整數：") + QString::fromUtf8(field));
    return value;
}

unsigned Result::type(int column) const
{
    return PQftype(result_, column);
}

qint64 Result::changes() const
{
    return QByteArrayView(PQcmdTuples(result_)).toLongLong();
}

// ---- Statement ----

Statement::Statement(detail::Link *link, QByteArray name, int parameters)
    : link_(link), name_(std::move(name)), values_(static_cast<std::size_t>(parameters)),
      state_(static_cast<std::size_t>(parameters), 0)
{
}

Statement::Statement(Statement &&other) noexcept
    : link_(std::exchange(other.link_, nullptr)), name_(std::move(other.name_)), values_(std::move(other.values_)),
      state_(std::move(other.state_))
{
}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        release();
        link_ = std::exchange(other.link_, nullptr);
        name_ = std::move(other.name_);
        values_ = std::move(other.values_);
        state_ = std::move(other.state_);
    }
    return *this;
}

Statement::~Statement()
{
    release();
}

void Statement::release() noexcept
{
    if (!link_ || !link_->canSendAside())
        return;
    // The name is the program's own ("talvesk_7"), never a value.
    const QByteArray sql = "DEALLOCATE " + name_;
    PQclear(PQexec(link_->conn, sql.constData()));
    link_ = nullptr;
}

namespace {
enum ParameterState : char { Unbound = 0, Bound = 1, BoundNull = 2 };
}

Statement &Statement::bind(int index, QStringView value)
{
    return bindUtf8(index, value.toUtf8());
}

Statement &Statement::bindUtf8(int index, QByteArrayView utf8)
{
    if (index < 1 || index > parameterCount())
        throw Error(errnum::Database, QStringLiteral("敘述沒有參數 $") + QString::number(index));
    // Sent as text, a value ends at its first NUL: refused rather than stored cut short.
    if (utf8.contains('\0'))
        throw nulError();
    const auto i = static_cast<std::size_t>(index - 1);
    values_[i] = utf8.toByteArray();
    state_[i] = Bound;
    return *this;
}

Statement &Statement::bind(int index, qint64 value)
{
    return bind(index, QString::number(value));
}

Statement &Statement::bindNull(int index)
{
    if (index < 1 || index > parameterCount())
        throw Error(errnum::Database, QStringLiteral("敘述沒有參數 $") + QString::number(index));
    state_[static_cast<std::size_t>(index - 1)] = BoundNull;
    return *this;
}

Result Statement::run()
{
    if (!link_)
        throw Error(errnum::Database, QStringLiteral("敘述已結束"));
    std::vector<const char *> pointers(values_.size(), nullptr);
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (state_[i] == Unbound)
            throw Error(errnum::Database, QStringLiteral("敘述的參數 $%1 沒有值").arg(i + 1));
        if (state_[i] == Bound)
            pointers[i] = values_[i].constData();
    }
    link_->ensureUsable();
    return link_->checked(PQexecPrepared(link_->conn, name_.constData(), static_cast<int>(pointers.size()),
                                         pointers.data(), nullptr, nullptr, 0));
}

void Statement::bindAllNull()
{
    for (std::size_t i = 0; i < state_.size(); ++i)
        bindNull(int(i) + 1);
}

// ---- Connection ----

Connection::Connection(const QString &connectionString) : link_(std::make_unique<detail::Link>())
{
    const QByteArray conninfo = connectionString.toUtf8();
    char *parseError = nullptr;
    if (PQconninfoOption *options = PQconninfoParse(conninfo.constData(), &parseError)) {
        PQconninfoFree(options);
    } else {
        const QString words = mayHoldPassword(conninfo) ? QString() : oneLine(parseError);
        PQfreemem(parseError);
        throw Error(errnum::Database, QStringLiteral("資料庫伺服器的連線設定寫法不正確") + inParentheses(words));
    }

    // Later keys win over earlier ones: the string may change the defaults before it (give up on
    // a server that does not answer in 10 s, notice a vanished peer on TCP within about a
    // minute), never the encoding after it.
    const char *const keys[] = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                                "keepalives_count", "application_name", "dbname", "client_encoding", nullptr};
    const char *const values[] = {"10", "1", "30", "10", "3", "talvesk", conninfo.constData(), "UTF8", nullptr};
    link_->conn = PQconnectdbParams(keys, values, 1);
    if (!link_->conn)
        throw Error(errnum::Database, QStringLiteral("無法連線到資料庫伺服器（記憶體不足）"));
    if (PQstatus(link_->conn) != CONNECTION_OK)
        throw Error(errnum::Database, QStringLiteral("無法連線到資料庫伺服器 ") + link_->serverName()
                                          + afterColon(oneLine(PQerrorMessage(link_->conn))));
    // The server's notices (a rollback with no transaction…) are not the clerk's business.
    PQsetNoticeProcessor(link_->conn, discardNotice, nullptr);
    if (qstrcmp(PQparameterStatus(link_->conn, "client_encoding"), "UTF8") != 0)
        throw Error(errnum::Database, QStringLiteral("資料庫伺服器 ") + link_->serverName() + QStringLiteral(" 不以 UTF-8 交談"));
    link_->canceller = PQgetCancel(link_->conn);
}

Connection::Connection(Connection &&other) noexcept = default;
Connection &Connection::operator=(Connection &&other) noexcept = default;
Connection::~Connection() = default;

Result Connection::execute(std::string_view sql)
{
    Result result = link_->execute(std::string(sql).c_str());
    // A COMMIT that ends a transaction in which a statement failed is a rollback, which the server
    // calls success: its answer says which it was, and a rollback is never reported as stored.
    QByteArrayView last(sql.data(), qsizetype(sql.size()));
    last = last.trimmed();
    while (last.endsWith(';'))
        last = last.chopped(1).trimmed();
    if (last.size() >= 6 && last.last(6).compare("COMMIT", Qt::CaseInsensitive) == 0
        && (last.size() == 6 || !std::isalnum(static_cast<unsigned char>(last[last.size() - 7])))
        && qstrcmp(PQcmdStatus(result.result_), "ROLLBACK") == 0)
        throw Error(errnum::Database, QStringLiteral("交易中有敘述失敗，伺服器沒有儲存這次的任何變更"));
    return result;
}

Statement Connection::prepare(std::string_view sql)
{
    return prepare(sql, {});
}

Statement Connection::prepare(std::string_view sql, const std::vector<unsigned> &unused)
{
    detail::Link &link = *link_;
    link.ensureUsable();
    const QByteArray name = "talvesk_" + QByteArray::number(++link.statements);
    std::vector<Oid> types;
    for (const unsigned n : unused) {
        if (types.size() < n)
            types.resize(n, 0); // 0: the server works the type out
        types[n - 1] = 25;      // text
    }
    link.checked(PQprepare(link.conn, name.constData(), std::string(sql).c_str(), int(types.size()),
                           types.empty() ? nullptr : types.data()));
    Result described = link.checked(PQdescribePrepared(link.conn, name.constData()));
    const int parameters = PQnparams(described.result_);
    return Statement(&link, name, parameters);
}

void Connection::copyRow(std::string_view copySql, std::span<const CopyField> fields)
{
    detail::Link &link = *link_;
    if (link.copying != copySql) {
        link.ensureUsable(); // ends another copy
        PGresult *result = PQexec(link.conn, std::string(copySql).c_str());
        if (!result || PQresultStatus(result) != PGRES_COPY_IN) {
            Result done = link.checked(result);
            throw Error(errnum::Database, QStringLiteral("不是 COPY … FROM STDIN 敘述"));
        }
        PQclear(result);
        link.copying = copySql;
    } else if (link.stopping.load()) {
        link.abandonCopy();
        throw stoppedError();
    }
    addCopyRow(fields, link.copyBuffer);
    if (link.copyBuffer.size() >= kCopyChunk)
        link.sendCopyData(link.copyBuffer);
}

void Connection::endCopy()
{
    if (!link_->copying.empty())
        link_->ensureUsable();
}

bool Connection::lockUntilTransactionEnds(qint64 key, std::chrono::milliseconds wait)
{
    link_->ensureUsable();
    if (PQtransactionStatus(link_->conn) != PQTRANS_INTRANS)
        throw Error(errnum::Database, QStringLiteral("鎖定只能在交易之中進行"));
    return waitForLock("SELECT pg_advisory_xact_lock($1::bigint)", key, wait);
}

bool Connection::lockForSession(qint64 key, std::chrono::milliseconds wait)
{
    link_->ensureUsable();
    // A session's lock is not the transaction's: taken inside this one, it stays after its end.
    const bool alone = PQtransactionStatus(link_->conn) == PQTRANS_IDLE;
    if (alone)
        link_->execute("BEGIN");
    try {
        const bool locked = waitForLock("SELECT pg_advisory_lock($1::bigint)", key, wait);
        if (alone)
            link_->execute("COMMIT");
        return locked;
    } catch (...) {
        if (alone)
            rollback();
        throw;
    }
}

void Connection::unlockSession(qint64 key) noexcept
{
    try {
        if (isConnected())
            link_->execute("SELECT pg_advisory_unlock($1::bigint)", {QByteArray::number(key)});
    } catch (...) {
        // The server lets it go with the session.
    }
}

bool Connection::waitForLock(const char *lockSql, qint64 key, std::chrono::milliseconds wait)
{
    detail::Link &link = *link_;
    // lock_timeout rather than polling pg_try_advisory_xact_lock: the server queues the waiters
    // and hands the lock over the moment its holder ends, where polling would add up to a poll's
    // delay and let a late asker overtake. A wait that runs out fails the statement, which the
    // savepoint keeps from failing the caller's transaction.
    const Result before = link.execute("SAVEPOINT talvesk_lock; SELECT current_setting('lock_timeout')");
    const QByteArray previousTimeout = before.utf8(0, 0).toByteArray();
    // 0 would be no limit at all.
    const qint64 waitMs = std::max<qint64>(1, wait.count());
    link.execute("SELECT set_config('lock_timeout', $1, true)", {QByteArray::number(waitMs)});
    PGresult *locked = link.sendWithValues(lockSql, {QByteArray::number(key)});
    if (!locked || PQresultStatus(locked) != PGRES_TUPLES_OK) {
        const bool busy = locked && link.connected() && qstrcmp(PQresultErrorField(locked, PG_DIAG_SQLSTATE), "55P03") == 0;
        if (!busy)
            throw link.failure(locked);
        PQclear(locked);
        link.execute("ROLLBACK TO SAVEPOINT talvesk_lock; RELEASE SAVEPOINT talvesk_lock");
        return false;
    }
    PQclear(locked);
    link.execute("SELECT set_config('lock_timeout', $1, true)", {previousTimeout});
    link.execute("RELEASE SAVEPOINT talvesk_lock");
    return true;
}

void Connection::cancel() noexcept
{
    link_->stopping.store(true);
    if (link_->canceller) {
        char ignored[256];
        PQcancel(link_->canceller, ignored, sizeof ignored);
    }
}

void Connection::rollback() noexcept
{
    if (!link_ || !link_->connected())
        return;
    if (!link_->copying.empty())
        link_->abandonCopy();
    const PGTransactionStatusType state = PQtransactionStatus(link_->conn);
    if (state == PQTRANS_INTRANS || state == PQTRANS_INERROR)
        PQclear(PQexec(link_->conn, "ROLLBACK"));
}

bool Connection::inTransaction() const
{
    if (!link_->connected())
        return false;
    const PGTransactionStatusType state = PQtransactionStatus(link_->conn);
    return state == PQTRANS_INTRANS || state == PQTRANS_INERROR || state == PQTRANS_ACTIVE;
}

bool Connection::isConnected() const
{
    return link_->connected();
}

QString Connection::serverName() const
{
    return link_->serverName();
}

// ---- Transaction ----

Transaction::Transaction(Connection &connection) : connection_(connection)
{
    connection_.execute("BEGIN");
}

Transaction::~Transaction()
{
    if (open_)
        connection_.rollback();
}

void Transaction::commit()
{
    connection_.execute("COMMIT");
    open_ = false;
}

// ---- CopyIn ----

CopyIn::CopyIn(Connection &connection, std::string_view copySql) : link_(connection.link_.get())
{
    link_->ensureUsable();
    PGresult *result = PQexec(link_->conn, std::string(copySql).c_str());
    if (result && PQresultStatus(result) == PGRES_COPY_IN) {
        PQclear(result);
        open_ = true;
        return;
    }
    // Not a copy from the client: whatever it was ran, and is not what was asked.
    Result done = link_->checked(result);
    throw Error(errnum::Database, QStringLiteral("不是 COPY … FROM STDIN 敘述"));
}

CopyIn::~CopyIn()
{
    abandon();
}

void CopyIn::abandon() noexcept
{
    if (!open_)
        return;
    open_ = false;
    buffer_.clear();
    if (PQputCopyEnd(link_->conn, "abandoned by the client") == 1) {
        while (PGresult *result = PQgetResult(link_->conn))
            PQclear(result);
    }
}

void CopyIn::addRow(std::span<const CopyField> fields)
{
    if (!open_)
        throw Error(errnum::Database, QStringLiteral("COPY 已結束"));
    if (link_->stopping.load()) {
        abandon();
        throw stoppedError();
    }
    addCopyRow(fields, buffer_);
    if (buffer_.size() >= kCopyChunk)
        send();
}

void CopyIn::addTexts(std::span<const QStringView> texts)
{
    std::vector<QByteArray> utf8;
    utf8.reserve(texts.size());
    std::vector<CopyField> fields;
    fields.reserve(texts.size());
    for (const QStringView text : texts) {
        utf8.push_back(text.toUtf8());
        fields.push_back({utf8.back(), false});
    }
    addRow(fields);
}

void CopyIn::addRow(std::initializer_list<QStringView> fields)
{
    addTexts(std::span<const QStringView>(fields.begin(), fields.size()));
}

void CopyIn::addRow(const QList<QString> &fields)
{
    std::vector<QStringView> views(fields.begin(), fields.end());
    addTexts(views);
}

void CopyIn::send()
{
    if (buffer_.isEmpty())
        return;
    if (PQputCopyData(link_->conn, buffer_.constData(), static_cast<int>(buffer_.size())) != 1) {
        open_ = false;
        throw link_->lost(oneLine(PQerrorMessage(link_->conn)));
    }
    buffer_.truncate(0);
}

qint64 CopyIn::finish()
{
    if (!open_)
        throw Error(errnum::Database, QStringLiteral("COPY 已結束"));
    send();
    open_ = false;
    if (PQputCopyEnd(link_->conn, nullptr) != 1)
        throw link_->lost(oneLine(PQerrorMessage(link_->conn)));
    PGresult *first = PQgetResult(link_->conn);
    // The rest, if any, so that the connection is ready for the next statement.
    while (PGresult *more = PQgetResult(link_->conn))
        PQclear(more);
    return link_->checked(first).changes();
}

} // namespace talvesk::platform::pg
