// Decoding of files in unknown encodings: any bytes give text or a clear
// refusal; text read as UTF-8 without a mark encodes back to the same bytes.
#include "FuzzText.h"

#include "files/TextDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using TextDecoding::Encoding;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString text;
    Encoding used{};
    Error error;
    if (TextDecoding::decode(bytes, &text, &used, &error)) {
        if (used == Encoding::UTF8 && !bytes.startsWith("\xEF\xBB\xBF"))
            FUZZ_CHECK(text.toUtf8() == bytes);
    } else {
        FUZZ_CHECK(!error.isNull());
    }
    for (const Encoding encoding : {Encoding::UTF8, Encoding::UTF16LE, Encoding::UTF16BE, Encoding::UTF32LE,
                                    Encoding::UTF32BE, Encoding::Windows1252, Encoding::ASCII})
        TextDecoding::decodeAs(bytes, encoding, &text);
    return 0;
}
