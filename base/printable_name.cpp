#include "base/printable_name.h"

namespace sorvik {

QString printableName(const QByteArray &bytes)
{
    // Valid UTF-8 sequences are kept, but for control characters (C0, DEL and C1);
    // every other byte is shown as \xNN.
    QString text;
    const auto escape = [&](unsigned char byte) {
        switch (byte) {
        case '\n': text += QLatin1String("\\n"); break;
        case '\r': text += QLatin1String("\\r"); break;
        case '\t': text += QLatin1String("\\t"); break;
        default: text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
    };
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const int size = bytes.size();
    for (int i = 0; i < size;) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7f)
                escape(lead);
            else
                text += QLatin1Char(char(lead));
            ++i;
            continue;
        }
        // The length of a well-formed sequence and the range of its second byte.
        int length = 0;
        unsigned char low = 0x80, high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) length = 2;
        else if (lead >= 0xe0 && lead <= 0xef) length = 3, low = lead == 0xe0 ? 0xa0 : 0x80, high = lead == 0xed ? 0x9f : 0xbf;
        else if (lead >= 0xf0 && lead <= 0xf4) length = 4, low = lead == 0xf0 ? 0x90 : 0x80, high = lead == 0xf4 ? 0x8f : 0xbf;
        bool valid = length > 0 && i + length <= size && data[i + 1] >= low && data[i + 1] <= high;
        for (int k = 2; valid && k < length; ++k)
            valid = data[i + k] >= 0x80 && data[i + k] <= 0xbf;
        if (!valid || (lead == 0xc2 && data[i + 1] < 0xa0)) {  // C1 controls are escaped too
            for (int k = 0; k < (valid ? length : 1); ++k)
                escape(data[i + k]);
            i += valid ? length : 1;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + i, length);
        i += length;
    }
    return text;
}

QString printableName(const QString &name)
{
    return printableName(name.toUtf8());
}

} // namespace sorvik
