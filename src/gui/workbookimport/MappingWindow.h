#pragma once

#include "db/Mapping.h"
#include "platform/AppFolder.h"
#include "platform/Database.h"
#include "platform/Desktop.h"
#include "platform/Error.h"
#include "workbookimport/WorkbookImport.h"

#include <QDialog>

#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;

namespace talvesk::workbookimport {

// The window that maps worksheet columns to the fields of an import, by column letters.
class MappingWindow : public QDialog {
    Q_OBJECT
public:
    struct Design {
        QString objectName;
        db::MappingTable table;     // the items' captions and letter limits
        std::vector<QString> labels; // each item's caption label's object name
        bool holdsConnection; // opens the database when the window opens and keeps it until it closes
        QString importCaption; // the import the mapping is for, as its menu item reads
    };
    // Room for six items, the import's name above them and the saved mapping below.
    static constexpr QSize kDesignedSize{380, 420};
    // What the column of headings adds once a workbook is chosen.
    static constexpr int kHeadingWidth = 180;

    MappingWindow(const Design &design, const platform::AppFolder &app, platform::Desktop &desktop,
                  QWidget *parent = nullptr);

    // 離開: saves the boxes and closes; a failure is reported and the window stays open.
    void onExitClicked();
    // Escape and the title-bar button: leave without saving, asking first when a box was changed.
    void reject() override;
    // Beside each box, the first-row text of the column its letters name (「B：客戶名稱」), of the
    // workbook chosen in the import window; a letter naming an empty column is marked.
    void showHeadings(const Headings &headings);

    QPushButton *exitButton() const { return exitButton_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void load();
    void reportFailure(const platform::Error &error);
    QStringList boxTexts() const;
    void showHeading(std::size_t item);
    // Shows the mapping now saved, item by item, under the import's name.
    void showSavedMapping(const QStringList &saved);

    Design design_;
    platform::AppFolder app_;
    platform::Desktop &desktop_;
    std::vector<QLineEdit *> boxes_;
    std::vector<QLabel *> headingLabels_;
    Headings headings_;
    QStringList savedTexts_; // what the boxes held when loaded or last saved
    QPushButton *exitButton_ = nullptr;
    QLabel *savedLabel = nullptr;
    std::optional<platform::Database> connection_;
    bool loaded_ = false; // whether the saved mapping was read and shown
};


} // namespace talvesk::workbookimport
