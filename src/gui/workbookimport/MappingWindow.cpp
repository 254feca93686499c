#include "workbookimport/MappingWindow.h"

#include "db/Connection.h"
#include "platform/Error.h"
#include "platform/Widgets.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace talvesk::workbookimport {

namespace {

const QString kCaption = QStringLiteral("EXCEL設定對應資料");

QString lettersOnly(const QString &text, int maxLength)
{
    QString kept;
    for (const QChar c : text) {
        const char16_t u = c.toUpper().unicode();
        if (u >= u'A' && u <= u'Z')
            kept += QChar(u);
    }
    return kept.left(maxLength);
}

} // namespace

MappingWindow::MappingWindow(const Design &design, const platform::AppFolder &app, platform::Desktop &desktop,
                             QWidget *parent)
    : QDialog(parent), design_(design), app_(app), desktop_(desktop)
{
    setObjectName(design.objectName);
    setWindowTitle(kCaption);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(24, 20, 24, 20);
    grid->setHorizontalSpacing(12);
    auto *title1 = new QLabel(QStringLiteral("資料庫欄位"), this);
    title1->setObjectName(QStringLiteral("title1"));
    auto *title2 = new QLabel(QStringLiteral("EXCEL欄位"), this);
    title2->setObjectName(QStringLiteral("title2"));
    for (QLabel *title : {title1, title2}) {
        title->setAlignment(Qt::AlignCenter);
        title->setFrameShape(QFrame::Box);
        title->setAutoFillBackground(true);
        title->setStyleSheet(QStringLiteral("background-color: rgb(255, 192, 128);"));
        title->setFixedHeight(30);
    }
    // Two windows look alike; this says which import reads with the mapping, and what it reads now.
    auto *purpose = new QLabel(QStringLiteral("用於: ") + design.importCaption, this);
    purpose->setObjectName(QStringLiteral("purposeLabel"));
    purpose->setAlignment(Qt::AlignCenter);
    grid->addWidget(purpose, 0, 0, 1, 3);
    grid->addWidget(title1, 1, 0);
    grid->addWidget(title2, 1, 1);

    int line = 1;
    const int firstRow = 2;
    for (std::size_t i = 0; i < design.table.items.size(); ++i) {
        const db::MappingItem &item = design.table.items[i];
        auto *label = new QLabel(item.caption, this);
        label->setObjectName(design.labels.at(i));
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("background-color: rgb(122, 150, 224); color: yellow;"));
        label->setMinimumWidth(130);
        label->setFixedHeight(26);
        auto *box = new QLineEdit(this);
        box->setObjectName(QStringLiteral("Text") + QString::number(line));
        box->setMaxLength(item.maxLetters);
        box->setAcceptDrops(false);
        box->installEventFilter(this);
        connect(box, &QLineEdit::textEdited, this, [box, max = item.maxLetters] {
            // Text that arrives by other ways than typing (pasting) is kept to the letters too.
            const QString kept = lettersOnly(box->text(), max);
            if (kept != box->text())
                box->setText(kept);
        });
        auto *heading = new QLabel(this);
        heading->setObjectName(QStringLiteral("heading") + QString::number(line));
        heading->setVisible(false);
        connect(box, &QLineEdit::textChanged, this, [this, i] { showHeading(i); });
        grid->addWidget(label, firstRow + line - 1, 0);
        grid->addWidget(box, firstRow + line - 1, 1);
        grid->addWidget(heading, firstRow + line - 1, 2);
        boxes_.push_back(box);
        headingLabels_.push_back(heading);
        ++line;
    }
    exitButton_ = new QPushButton(QStringLiteral("離開"), this);
    exitButton_->setObjectName(QStringLiteral("Command3"));
    exitButton_->setAutoDefault(false);
    savedLabel = new QLabel(this);
    savedLabel->setObjectName(QStringLiteral("savedMappingLabel"));
    savedLabel->setAlignment(Qt::AlignCenter);
    grid->addWidget(savedLabel, firstRow + line - 1, 0, 1, 3);
    grid->addWidget(exitButton_, firstRow + line, 0, 1, 3, Qt::AlignCenter);
    grid->setRowStretch(firstRow + line + 1, 1);
    connect(exitButton_, &QPushButton::clicked, this, &MappingWindow::onExitClicked);
    exitButton_->installEventFilter(this);

    // Tab follows the boxes top to bottom, then 離開: typing the letters in order with Tab
    // between them fills the boxes in order.
    std::vector<QWidget *> order(boxes_.begin(), boxes_.end());
    order.push_back(exitButton_);
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    const QSize screen = desktop_.screenSize();
    platform::fixWindowSize(*this, platform::sizeForScreen(screen, kDesignedSize));
    platform::placeWithin(*this, desktop_);
    load();
}

void MappingWindow::load()
{
    for (QLineEdit *box : boxes_)
        box->clear();
    try {
        platform::Database db = db::openDatabase(app_, db::Reach::DeskOrServer);
        const QStringList items = db::readMapping(db, design_.table);
        for (std::size_t i = 0; i < boxes_.size(); ++i)
            boxes_[i]->setText(items.value(static_cast<qsizetype>(i)));
        showSavedMapping(items);
        savedTexts_ = boxTexts();
        if (design_.holdsConnection)
            connection_.emplace(std::move(db));
        loaded_ = true;
    } catch (const platform::Error &error) {
        // The saved mapping could not be shown, so it cannot be edited either: the boxes stay
        // locked and 離開 leaves it as it is rather than saving empty boxes over it.
        for (QLineEdit *box : boxes_)
            box->setEnabled(false);
        reportFailure(error);
    }
}

QStringList MappingWindow::boxTexts() const
{
    QStringList texts;
    for (const QLineEdit *box : boxes_)
        texts << box->text().trimmed();
    return texts;
}

void MappingWindow::onExitClicked()
{
    if (!loaded_) {
        reject();
        return;
    }
    try {
        // On the server the writing lock is taken for the save alone, not while the clerk edits.
        if (!connection_ || connection_->isServer())
            connection_.emplace(db::openDatabaseToWrite(app_));
        db::saveMapping(*connection_, design_.table, boxTexts());
        showSavedMapping(boxTexts());
        savedTexts_ = boxTexts();
    } catch (const platform::Error &error) {
        reportFailure(error);
        return;
    }
    connection_.reset();
    accept();
}

void MappingWindow::reject()
{
    if (loaded_ && boxTexts() != savedTexts_) {
        const platform::Answer answer =
            desktop_.showMessage(this, {QStringLiteral("欄位對應已變更但尚未儲存，確定要放棄變更嗎?"), kCaption,
                                        platform::Icon::Exclamation, platform::Buttons::YesNo,
                                        QStringLiteral("按「離開」才會儲存。"), platform::Answer::No});
        if (answer != platform::Answer::Yes)
            return;
    }
    connection_.reset();
    QDialog::reject();
}

void MappingWindow::showHeadings(const Headings &headings)
{
    headings_ = headings;
    if (!headings_.known())
        return;
    // The headings take a column of their own: the window grows by it, within the screen.
    const QSize designed = platform::sizeForScreen(desktop_.screenSize(), kDesignedSize);
    platform::fixWindowSize(*this, {designed.width() + kHeadingWidth, designed.height()});
    platform::placeWithin(*this, desktop_);
    for (std::size_t i = 0; i < boxes_.size(); ++i)
        showHeading(i);
}

void MappingWindow::showHeading(std::size_t item)
{
    QLabel *label = headingLabels_[item];
    const QString letters = boxes_[item]->text().trimmed();
    label->setVisible(headings_.known());
    if (!headings_.known() || letters.isEmpty()) {
        label->clear();
        label->setToolTip(QString());
        return;
    }
    const QString text = headings_.of(letters);
    const bool empty = text.isEmpty();
    const QString shown = letters + u'：' + (empty ? QStringLiteral("(空白欄)") : text);
    label->setText(label->fontMetrics().elidedText(shown, Qt::ElideRight, kHeadingWidth - 8));
    label->setToolTip(shown);
    label->setProperty("emptyColumn", empty);
    label->setStyleSheet(empty ? QStringLiteral("color: #c00000; font-weight: bold;") : QString());
}

void MappingWindow::showSavedMapping(const QStringList &saved)
{
    // Three items a line, broken between items only: wrapped by width, the last item's letter
    // ended up alone on a line of its own.
    constexpr std::size_t kPerLine = 3;
    QStringList lines{QStringLiteral("目前使用:")};
    for (std::size_t i = 0; i < design_.table.items.size(); ++i) {
        const QString letters = saved.value(static_cast<qsizetype>(i));
        const QString part = design_.table.items[i].caption + u'=' + (letters.isEmpty() ? QStringLiteral("(未設定)") : letters);
        if (i % kPerLine == 0)
            lines << part;
        else
            lines.last() += QStringLiteral(", ") + part;
    }
    savedLabel->setText(lines.join(u'\n'));
}

void MappingWindow::reportFailure(const platform::Error &error)
{
    desktop_.showMessage(this, {QStringLiteral("錯誤發生;錯誤代碼=") + QString::number(error.number()), kCaption,
                                platform::Icon::Critical, platform::Buttons::Ok, error.description()});
}

bool MappingWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const bool enter = static_cast<QKeyEvent *>(event)->key() == Qt::Key_Return
                       || static_cast<QKeyEvent *>(event)->key() == Qt::Key_Enter;
    if (watched == exitButton_ && enter) {
        exitButton_->click();
        return true;
    }
    auto *box = qobject_cast<QLineEdit *>(watched);
    const auto at = std::find(boxes_.begin(), boxes_.end(), box);
    if (!box || at == boxes_.end())
        return QDialog::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const int code = key->key();
    const std::size_t index = static_cast<std::size_t>(at - boxes_.begin());

    // Arrow keys move between the first boxes.
    if (index < 2) {
        const bool back = code == Qt::Key_Left || code == Qt::Key_Up;
        const bool forward = code == Qt::Key_Right || code == Qt::Key_Down;
        if (back || forward) {
            const std::size_t target = index == 0 ? (back ? 2 : 1) : (back ? 0 : 2);
            boxes_[target]->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    // Enter moves on to the next box, from the last one to 離開.
    if (enter) {
        QWidget *next = index + 1 < boxes_.size() ? static_cast<QWidget *>(boxes_[index + 1]) : exitButton_;
        next->setFocus(Qt::TabFocusReason);
        if (auto *nextBox = qobject_cast<QLineEdit *>(next))
            nextBox->selectAll();
        return true;
    }
    if (key->matches(QKeySequence::Paste)) {
        const int room = box->maxLength() - static_cast<int>(box->text().size() - box->selectedText().size());
        box->insert(lettersOnly(QGuiApplication::clipboard()->text(), std::max(room, 0)));
        return true;
    }
    // Escape passes on to the window, which leaves without saving, as its title-bar button does.
    if (code == Qt::Key_Backspace || code == Qt::Key_Escape || code == Qt::Key_Tab
        || code == Qt::Key_Backtab || code == Qt::Key_Delete
        || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) || key->text().isEmpty())
        return QDialog::eventFilter(watched, event);
    // The letter filter: A to Z pass, a to z pass upper-cased, every other character is dropped.
    const QChar c = key->text().front();
    if (key->text().size() == 1 && c >= u'a' && c <= u'z') {
        if (box->text().size() - box->selectedText().size() < box->maxLength())
            box->insert(QString(c.toUpper()));
        return true;
    }
    return !(key->text().size() == 1 && c >= u'A' && c <= u'Z');
}

} // namespace talvesk::workbookimport
