// The text-line reader with the fixed-position fields of the bank and store files, and the
// amount rules applied to them.
#include "FuzzSupport.h"

#include "payments/Amounts.h"
#include "textimport/TextImport.h"
#include "platform/Error.h"
#include "platform/TextLines.h"

using namespace talvesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzz::writeInput(data, size, QStringLiteral(".txt"));
    try {
        platform::TextLineReader reader(path);
        platform::TextLine line;
        textimport::ErrorLog log(path + QStringLiteral(".log"));
        while (reader.next(line)) {
            const QStringView amount = textimport::field(line.text, 23, 11);
            if (!textimport::isDigitsAndBlanks(amount))
                log.add(line, QStringLiteral("amount"));
            const QStringView text = textimport::fixedAmountText(amount);
            const double total = payments::leadingNumber(textimport::field(line.text, 48, 25), true);
            payments::outstandingText(total - payments::leadingNumber(text, true));
            textimport::fixedAmountText(textimport::field(line.text, 96, 9));
            if (!line.decoded)
                log.add(line, QStringLiteral("decode"));
        }
    } catch (const platform::Error &) {
    }
    return 0;
}
