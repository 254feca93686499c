// The INI profile reader the credential file is read with.
#include "FuzzSupport.h"

#include "platform/ProfileReader.h"

using namespace talvesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzz::writeInput(data, size, QStringLiteral(".ini"));
    for (int buffer : {1, 2, 16, 256}) {
        platform::readProfileString(path, u"ENV", u"使用者名稱", QStringLiteral("default"), buffer);
        platform::readProfileString(path, u"env", u"x", QString(), buffer);
    }
    return 0;
}
