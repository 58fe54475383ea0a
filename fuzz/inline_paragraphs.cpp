// The paragraph walk, forward and backward, over the whole input: the
// paragraphs tile the text without gaps or overlaps, and parsing each one
// stays inside it.
#include "FuzzText.h"

#include "Markdown/InlineParser.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = fuzzText(data, size);
    InlineParser parser;
    std::vector<InlineRange> forward, backward;
    parser.enumerateParagraph(text, {0, text.size()}, [&](const InlineRange& paragraph, bool*) {
        forward.push_back(paragraph);
        FUZZ_CHECK(paragraph.location >= 0 && paragraph.end() <= text.size());
        InlineParser inner;
        inner.parseBlockAndInline(text, paragraph, [&](const InlineRange& range, InlineElement) {
            FUZZ_CHECK(range.location >= paragraph.location && range.end() <= paragraph.end());
        });
    });
    parser.reverseEnumerateParagraph(text, {0, text.size()},
                                     [&](const InlineRange& paragraph, bool*) { backward.push_back(paragraph); });
    FUZZ_CHECK(forward.size() == backward.size());
    for (size_t i = 0; i < forward.size(); ++i) {
        FUZZ_CHECK(forward[i] == backward[backward.size() - 1 - i]);
        if (i > 0)
            FUZZ_CHECK(forward[i].location == forward[i - 1].end());
    }
    return 0;
}
