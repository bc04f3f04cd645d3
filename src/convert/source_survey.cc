// The survey of a CP/M source's raw bytes, one memchr at a time.
#include "convert/source_survey.h"

#include <cstring>

#include "convert/engine.h"

namespace {

// Where the next byte equal to value stands in [from, end), or end.
const unsigned char* find(const unsigned char* from, const unsigned char* end,
                          unsigned char value) {
    const void* found = std::memchr(from, value, static_cast<std::size_t>(end - from));
    return found ? static_cast<const unsigned char*>(found) : end;
}

} // namespace

void source_survey::take(void* survey, const unsigned char* bytes, std::size_t count) {
    auto& self = *static_cast<source_survey*>(survey);
    if (count == 0)
        return;
    self.take_cpm_text(bytes, count);
    self.previous_ = bytes[count - 1];
}

void source_survey::take_cpm_text(const unsigned char* bytes, std::size_t count) {
    if (end_mark_seen_) {
        take_cpm_fill(bytes, count);
        return;
    }
    const unsigned char* end = bytes + count;
    const unsigned char* mark = find(bytes, end, CPM_END_MARK);
    for (const unsigned char* lf = find(bytes, mark, CPM_LF); lf != mark;
         lf = find(lf + 1, mark, CPM_LF))
        if ((lf == bytes ? previous_ : lf[-1]) != CPM_CR)
            ++line_ends_without_cr_;
    if (mark == end) {
        offset_ += count;
        return;
    }
    // The record that holds the first ^Z is the text's own; only those after
    // it are looked at.
    end_mark_seen_ = true;
    offset_ += static_cast<std::size_t>(mark - bytes);
    fill_from_ = (offset_ / CPM_RECORD_SIZE + 1) * CPM_RECORD_SIZE;
    take_cpm_fill(mark, static_cast<std::size_t>(end - mark));
}

// Bytes from the first ^Z on: whole records after the ^Z's own, counted when
// they hold anything but ^Z.
void source_survey::take_cpm_fill(const unsigned char* bytes, std::size_t count) {
    const unsigned char* end = bytes + count;
    if (offset_ < fill_from_) {
        std::uint64_t skip = fill_from_ - offset_;
        if (skip >= count) {
            offset_ += count;
            return;
        }
        bytes += skip;
        offset_ += skip;
    }
    while (bytes != end) {
        std::size_t in_record = static_cast<std::size_t>(offset_ % CPM_RECORD_SIZE);
        std::size_t part = CPM_RECORD_SIZE - in_record;
        if (part > static_cast<std::size_t>(end - bytes))
            part = static_cast<std::size_t>(end - bytes);
        for (std::size_t i = 0; i < part && !record_has_text_; ++i)
            if (bytes[i] != CPM_END_MARK)
                record_has_text_ = true;
        bytes += part;
        offset_ += part;
        if (offset_ % CPM_RECORD_SIZE == 0) {
            if (record_has_text_)
                ++records_after_end_mark_;
            record_has_text_ = false;
        }
    }
}

void source_survey::finish() {
    if (end_mark_seen_ && offset_ % CPM_RECORD_SIZE != 0 && record_has_text_)
        ++records_after_end_mark_;
    record_has_text_ = false;
}
