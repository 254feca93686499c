// The text-line reader with the fixed-position fields of the bank and store files, and the
// amount rules applied to them.
#include "FuzzSupport.h"

#include "payments/Amounts.h"
#include "textimport/FixedFields.h"
#include "platform/Error.h"
#include "platform/TextLines.h"

using namespace talvesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // An input starting with "~" is repeated past the longest line the reader keeps, so that lines
    // longer than any input reach it too.
    QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (input.startsWith('~') && input.size() > 1) {
        const QByteArray piece = input.mid(1);
        input.clear();
        while (input.size() <= platform::kMaxLineBytes + 1)
            input += piece;
    }
    const QString path = fuzz::writeInput(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                          static_cast<std::size_t>(input.size()), QStringLiteral(".txt"));
    try {
        platform::TextLineReader reader(path);
        platform::TextLine line;
        while (reader.next(line)) {
            const QStringView amount = textimport::field(line.text, 23, 11);
            if (!textimport::isDigitsAndBlanks(amount) || !line.decoded)
                textimport::shownLine(line);
            const QStringView text = textimport::fixedAmountText(amount);
            const double total = payments::leadingNumber(textimport::field(line.text, 48, 25), true);
            payments::outstandingText(total - payments::leadingNumber(text, true));
            textimport::fixedAmountText(textimport::field(line.text, 96, 9));
        }
    } catch (const platform::Error &) {
    }
    return 0;
}
