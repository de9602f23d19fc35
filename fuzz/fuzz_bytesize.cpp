// A size or rate comes from a user (command line) or a stored setting anything may have edited: any text
// reads as -1 or as a count within the bound, and a count is what its digits and unit say.
#include "net/ByteSize.h"

#include <cstdint>
#include <cstdlib>

using Orvane::Launcher::ByteSize;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    const QString l_Text = QString::fromUtf8(reinterpret_cast<const char*>(p_Data), int(p_Size));
    const qint64 l_Bytes = ByteSize::Parse(l_Text);
    if (l_Bytes < -1 || l_Bytes > ByteSize::Max)
        std::abort();
    if (l_Bytes < 0)
        return 0;
    // Read again from its own digits, with and without blanks and a "B": the same count.
    if (ByteSize::Parse(QString::number(l_Bytes)) != l_Bytes || ByteSize::Parse(" " + l_Text + " ") != l_Bytes)
        std::abort();
    if (l_Bytes % 1024 == 0 && ByteSize::Parse(QString::number(l_Bytes / 1024) + "kb") != l_Bytes)
        std::abort();
    return 0;
}
