#include "platform/Widgets.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>
#include <QHeaderView>
#include <QTableView>
#include <QKeyEvent>
#include <QResizeEvent>

#include <algorithm>

namespace talvesk::platform {

QLabel *namedLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton *namedButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void fixWindowSize(QWidget &window, QSize size)
{
    window.setFixedSize(size);
    // Without the customised hints the window manager still offers to maximise a window that
    // cannot grow.
    const bool dialog = (window.windowFlags() & Qt::WindowType_Mask) == Qt::Dialog;
    window.setWindowFlags((dialog ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

QString groupedAmount(const QString &stored)
{
    QString text = stored.trimmed();
    text.remove(u',');
    qsizetype start = text.startsWith(u'-') ? 1 : 0;
    qsizetype point = text.indexOf(u'.');
    if (point < 0)
        point = text.size();
    const auto digits = [](QStringView part) {
        return std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    if (text.size() == start || !digits(QStringView(text).mid(start, point - start))
        || !digits(QStringView(text).mid(std::min(point + 1, text.size()))))
        return stored;
    for (qsizetype at = point - 3; at > start; at -= 3)
        text.insert(at, u',');
    return text;
}

QString dateForList(const QString &stored)
{
    const QString text = stored.trimmed();
    if ((text.size() != 7 && text.size() != 6)
        || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return stored;
    const qsizetype year = text.size() - 4;
    return text.left(year) + u'/' + text.mid(year, 2) + u'/' + text.mid(year + 2);
}

void placeWithin(QWidget &window, Desktop &desktop, const QMargins &frame)
{
    const QRect available = desktop.availableGeometry();
    const QSize room(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom());
    if (window.width() > room.width() || window.height() > room.height()) {
        const QSize smaller = window.size().boundedTo(room);
        if (window.minimumSize() == window.maximumSize())
            window.setFixedSize(smaller);
        else
            window.resize(smaller);
    }
    const QSize framed = window.size().grownBy(frame);
    // A top-level window's position is that of its frame.
    QPoint corner = placementFor(desktop.screenSize(), window.size());
    corner.setX(std::clamp(corner.x(), available.left(), available.left() + available.width() - framed.width()));
    corner.setY(std::clamp(corner.y(), available.top(), available.top() + available.height() - framed.height()));
    window.move(corner);
}

namespace {
const char *const kGivingColumn = "talveskGivingColumn";
} // namespace

void fitColumns(QTableView &table)
{
    QHeaderView *header = table.horizontalHeader();
    const int count = header->count();
    if (count == 0)
        return;
    std::vector<int> wanted(static_cast<std::size_t>(count));
    long long total = 0;
    for (int c = 0; c < count; ++c) {
        const int w = std::max(static_cast<QAbstractItemView &>(table).sizeHintForColumn(c), header->sectionSizeHint(c));
        wanted[static_cast<std::size_t>(c)] = w;
        total += w;
    }
    std::vector<int> widths = wanted;
    const int room = table.viewport()->width();
    // A column named to give way (a folder, say) is cut first, as far as its heading's width.
    const int giving = table.property(kGivingColumn).toInt() - 1;
    if (total > room && giving >= 0 && giving < count) {
        const int want = wanted[static_cast<std::size_t>(giving)];
        const int floor = std::max(header->sectionSizeHint(giving), header->minimumSectionSize());
        const int cut = std::min<long long>(total - room, want - floor);
        if (cut > 0) {
            widths[static_cast<std::size_t>(giving)] = want - cut;
            wanted[static_cast<std::size_t>(giving)] = want - cut;
            total -= cut;
        }
    }
    if (total > room) {
        // The narrowest columns first keep what they need; each wider one gets an equal share of
        // what is left.
        std::vector<int> order(static_cast<std::size_t>(count));
        for (int c = 0; c < count; ++c)
            order[static_cast<std::size_t>(c)] = c;
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return wanted[static_cast<std::size_t>(a)] < wanted[static_cast<std::size_t>(b)];
        });
        int left = room;
        int remaining = count;
        for (int c : order) {
            const int share = std::max(left / remaining, header->minimumSectionSize());
            widths[static_cast<std::size_t>(c)] = std::min(wanted[static_cast<std::size_t>(c)], share);
            left -= widths[static_cast<std::size_t>(c)];
            --remaining;
        }
    }
    for (int c = 0; c < count; ++c)
        header->resizeSection(c, widths[static_cast<std::size_t>(c)]);
}

namespace {

class ColumnFitter : public QObject {
public:
    explicit ColumnFitter(QTableView &table) : QObject(&table), table_(table) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &table_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            fitColumns(table_);
        return false;
    }

private:
    QTableView &table_;
};

} // namespace

void keepColumnsFitted(QTableView &table, int givingColumn)
{
    table.setProperty(kGivingColumn, givingColumn + 1);
    table.setTextElideMode(Qt::ElideRight);
    table.horizontalHeader()->setStretchLastSection(true);
    table.installEventFilter(new ColumnFitter(table));
}

std::optional<QString> draggedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile())
        return std::nullopt;
    const QString path = data->urls().front().toLocalFile();
    if (QFileInfo(path).isDir())
        return std::nullopt;
    return path;
}

QToolButton *recentFilesButton(QWidget *parent, Desktop &desktop, const QString &kind,
                               std::function<void(const QString &)> take)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("cmdRecent"));
    button->setText(QStringLiteral("最近的檔案"));
    button->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("mnuRecent"));
    menu->setToolTipsVisible(true);
    button->setMenu(menu);
    // Filled as it opens, so a file chosen in another window of the same kind is there too.
    QObject::connect(menu, &QMenu::aboutToShow, button, [menu, &desktop, kind, take] {
        menu->clear();
        const QStringList files = desktop.recentFiles(kind);
        if (files.isEmpty())
            menu->addAction(QStringLiteral("（沒有最近的檔案）"))->setEnabled(false);
        for (const QString &file : files) {
            QAction *action = menu->addAction(QFileInfo(file).fileName());
            action->setToolTip(file);
            QObject::connect(action, &QAction::triggered, menu, [take, file] { take(file); });
        }
    });
    return button;
}

bool confirmImportAgain(QWidget *parent, Desktop &desktop, const std::optional<QDateTime> &when, const QString &title)
{
    if (!when)
        return true;
    const QString question = QStringLiteral("此檔案已於 %1 匯入過，確定要再匯入嗎?")
                                 .arg(when->toString(QStringLiteral("yyyy/MM/dd HH:mm")));
    return desktop.showMessage(parent, {question, title, Icon::Exclamation, Buttons::YesNo, QString(), Answer::No})
        == Answer::Yes;
}

PathLabel::PathLabel(QWidget *parent) : QLabel(parent)
{
    // The label takes the width the layout gives it, not the width of the whole path.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::setPath(const QString &path, const QString &lead)
{
    path_ = path;
    lead_ = lead;
    setToolTip(lead + path);
    showElided();
}

void PathLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showElided();
}

void PathLabel::showElided()
{
    const int room = std::max(contentsRect().width(), 40);
    const int leadWidth = fontMetrics().horizontalAdvance(lead_);
    if (lead_.isEmpty() || leadWidth >= room)
        setText(fontMetrics().elidedText(lead_ + path_, Qt::ElideMiddle, room));
    else
        setText(lead_ + fontMetrics().elidedText(path_, Qt::ElideMiddle, room - leadWidth));
}

void BusyDialog::closeEvent(QCloseEvent *event)
{
    if (busy_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void BusyDialog::keyPressEvent(QKeyEvent *event)
{
    if (busy_ && event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

BusyScope::BusyScope(BusyDialog &dialog, Desktop &desktop, std::initializer_list<QWidget *> controls)
    : dialog_(dialog), desktop_(desktop)
{
    dialog_.setBusy(true);
    for (QWidget *control : controls) {
        controls_.emplace_back(control, control->isEnabled());
        control->setEnabled(false);
    }
    desktop_.setPointer(Pointer::Hourglass);
}

BusyScope::~BusyScope()
{
    desktop_.setPointer(Pointer::Default);
    for (const auto &[control, enabled] : controls_) {
        if (control)
            control->setEnabled(enabled);
    }
    dialog_.setBusy(false);
}

void BusyScope::pointerBack()
{
    desktop_.setPointer(Pointer::Default);
}

} // namespace talvesk::platform
