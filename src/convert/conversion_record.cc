// The notes of the engine's record.
#include "convert/conversion_record.h"

#include <cerrno>

#include "common/host_text.h"
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
