// The notes of the engine's record.
#include "convert/conversion_record.h"

#include <cerrno>
#include <cstring>

#include "common/host_text.h"
#include "convert/engine.h"
#include "convert/run_state.h"

conversion_record this_conversion;

void note_untranslatable(std::uint64_t offset, std::uint32_t value) {
    if (this_conversion.untranslatable.count++ == 0) {
        this_conversion.untranslatable.first = this_conversion.lines.position_of(offset);
        this_conversion.untranslatable.first_value = value;
    }
}

void note_end_of_host_text(const host_text_reader& input, std::uint64_t offset) {
    if (source_stream.failed() && source_stream.error_number() == EILSEQ)
        this_conversion.invalid_input = {true, this_conversion.lines.position_of(offset),
                                         input.invalid_byte()};
}

void note_unencodable(std::uint64_t offset, std::uint32_t value) {
    unencodable_record& found = this_conversion.unencodable;
    if (!found.seen) {
        found.seen = true;
        found.first = this_conversion.lines.position_of(offset);
        found.value = value;
    }
}

void note_host_text_marks(const unsigned char* text, std::size_t length) {
    if (length == 0)
        return;
    const unsigned char* end = text + length;
    carriage_return_record& pairs = this_conversion.line_ends_with_cr;
    if (pairs.after_cr && text[0] == CPM_LF)
        ++pairs.count;
    for (auto* cr = static_cast<const unsigned char*>(std::memchr(text, CPM_CR, length));
         cr != nullptr && cr + 1 < end;
         cr = static_cast<const unsigned char*>(std::memchr(cr + 1, CPM_CR, end - cr - 1)))
        pairs.count += cr[1] == CPM_LF;
    pairs.after_cr = end[-1] == CPM_CR;
    end_mark_record& end_mark = this_conversion.end_mark;
    if (end_mark.text_follows)
        return;
    const unsigned char* after = text;
    if (!end_mark.seen) {
        after = static_cast<const unsigned char*>(std::memchr(text, CPM_END_MARK, length));
        if (after == nullptr)
            return;
        end_mark.seen = true;
    }
    for (; after != end; ++after)
        if (*after != CPM_END_MARK) {
            end_mark.text_follows = true;
            return;
        }
}
