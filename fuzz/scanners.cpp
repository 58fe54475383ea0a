// Every scanner at every position of NUL-terminated UTF-16 text: none reads
// outside the text, and every match ends at its end at the latest.
#include "FuzzText.h"

#include "Markdown/Scanners.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char16_t> text(size / 2 + 1, u'\0');
    for (size_t i = 0; i + 1 < size; i += 2)
        text[i / 2] = char16_t(data[i] | (data[i + 1] << 8));
    const char16_t* start = text.data();
    const int64_t length = int64_t(text.size()) - 1;
    ScanMemo memo;
    for (int64_t at = 0; at <= length; ++at) {
        const char16_t* p = start + at;
        const int64_t room = length - at;
        int16_t level = 0;
        int64_t number = 0, closeLength = 0, localLength = 0;
        const char16_t* closeStart = nullptr;
        // A match may take in its line end, and the terminating NUL ends the
        // last line: one unit past the text at most.
        for (const int64_t n :
             {uscan_rule_line(p), uscan_atx_open(p, &level), uscan_atx_close(p, &closeStart, &closeLength),
              uscan_spaces(p), uscan_word(p), uscan_checkbox(p), uscan_bullet_item(p), uscan_ordered_item(p, &number),
              uscan_autolink_uri(p), uscan_autolink_email(p), uscan_html_tag(p, &memo), uscan_entity(p),
              uscan_backtick_run(p), uscan_tilde_run(p), int64_t(uscan_asterisk_run(p)),
              int64_t(uscan_underscore_run(p)), uscan_tag_chars(p), uscan_tag_digits(p), uscan_tag_word(p),
              uscan_hashtag(p), uscan_mention(p), uscan_bare_email(p, start, &localLength)})
            FUZZ_CHECK(n >= 0 && n <= room + 1);
        FUZZ_CHECK(uscan_email_local_back(p, start) <= at);
        FUZZ_CHECK(uscan_scheme_back(p, start) <= at);
    }
    return 0;
}
