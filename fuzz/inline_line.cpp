// The inline parser over the input as one paragraph: every element it
// reports lies inside the paragraph, in text order.
#include "FuzzText.h"

#include "Markdown/InlineParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = fuzzText(data, size);
    InlineParser parser;
    const InlineRange line{0, text.size()};
    for (const bool inlineToo : {false, true}) {
        const auto check = [&](const InlineRange& range, InlineElement) {
            FUZZ_CHECK(range.location >= 0 && range.length >= 0 && range.end() <= text.size());
        };
        if (inlineToo)
            parser.parseBlockAndInline(text, line, check);
        else
            parser.parseBlock(text, line, check);
    }
    parser.parseAutoIndent(text, line);
    return 0;
}
