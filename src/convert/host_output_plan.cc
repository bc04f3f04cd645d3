// The plan of the host text for each CP/M code.
#include "convert/host_output_plan.h"

#include <climits>
#include <cstdlib>
#include <cwchar>

#include "charset/charset_tables.h"
#include "common/byte_classes.h"

namespace {

// stateless: whether encoding keeps no shift state, so that a character's
// bytes can be worked out once.
host_output plan_character(wchar_t c, host_encoding encoding, bool stateless) {
    host_output planned{};
    planned.character = c;
    planned.kind = HOST_CHARACTER;
    if (!stateless)
        return planned;
    char encoded[MB_LEN_MAX];
    std::mbstate_t state{};
    std::size_t length = encode_host_character(encoding, c, encoded, state);
    if (length == static_cast<std::size_t>(-1)) {
        planned.kind = HOST_UNENCODABLE;
    } else {
        planned.kind = HOST_BYTES;
        planned.length = static_cast<unsigned char>(length);
        std::memcpy(planned.bytes, encoded, length);
    }
    return planned;
}

// The codes' bytes for whole blocks. CR and LF are their own bytes in the
// host's text (a CR LF pair is found from the masks, not from the table).
void plan_blocks(host_output_plan& plan) {
    plan.blocks_apply =
        plan.carriage_return.kind == HOST_BYTES && plan.carriage_return.length == 1 &&
        plan.carriage_return.bytes[0] == CPM_CR && plan.line_feed.kind == HOST_BYTES &&
        plan.line_feed.length == 1 && plan.line_feed.bytes[0] == CPM_LF;
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        const host_output& planned = plan.codes[code];
        auto byte = static_cast<unsigned char>(code);
        block_code& block = plan.block_codes[code];
        if (code == CPM_CR || code == CPM_LF)
            block = pack_block_code(&byte, 1, code == CPM_CR ? 0 : 1);
        else if (planned.kind == HOST_BYTES && planned.length <= sizeof(std::uint32_t))
            block = pack_block_code(planned.bytes, planned.length, planned.length);
        else
            block = BLOCK_CODE_LEFT_OUT;
        if (code < 0x80 && code != CPM_CR && block != pack_block_code(&byte, 1, 1))
            plan.blocks_apply = false;
    }
}

} // namespace

host_output_plan plan_host_output() {
    host_encoding encoding = current_host_encoding();
    // MB_CUR_MAX is a size_t in glibc and musl, an int in macOS.
    bool stateless = std::wctomb(nullptr, 0) == 0 &&
                     static_cast<std::size_t>(MB_CUR_MAX) <= LONGEST_PLANNED_SEQUENCE;
    host_output_plan plan;
    for (int code = 0; code < CPM_CODE_COUNT; ++code) {
        // CR and LF are written as the host's CR and LF, never looked up.
        int c = code == CPM_CR || code == CPM_LF ? code : cpm_to_host_char(code);
        if (code == CPM_CR || code == CPM_LF) {
            plan.codes[code] = host_output{};
            plan.codes[code].kind = code == CPM_CR ? HOST_CARRIAGE_RETURN : HOST_LINE_FEED;
        } else if (c < 0) {
            plan.codes[code] = host_output{};
            plan.codes[code].kind = HOST_UNTRANSLATABLE;
        } else {
            plan.codes[code] = plan_character(static_cast<wchar_t>(c), encoding, stateless);
        }
    }
    plan.carriage_return = plan_character(L'\r', encoding, stateless);
    plan.line_feed = plan_character(L'\n', encoding, stateless);
    plan.plain_text_is_itself = plain_text_maps_to_itself([&plan](int code) {
        const host_output& planned = plan.codes[code];
        return planned.kind == HOST_BYTES && planned.length == 1 && planned.bytes[0] == code;
    });
    plan_blocks(plan);
    return plan;
}
