#include "GraphemeCount.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

std::size_t graphemeCount(std::string_view utf8) {
    if (utf8.empty())
        return 0;
    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUTextPointer text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<std::int64_t>(utf8.size()), &status));
    icu::LocalUBreakIteratorPointer breaks(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
    ubrk_setUText(breaks.getAlias(), text.getAlias(), &status);
    // Should ICU fail, the byte length still bounds the count from above, so limits hold.
    if (U_FAILURE(status))
        return utf8.size();
    std::size_t count = 0;
    while (ubrk_next(breaks.getAlias()) != UBRK_DONE)
        ++count;
    return count;
}
