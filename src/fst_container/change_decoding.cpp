#include "change_decoding.hpp"

namespace fst_container {

namespace change_errors {

ReaderError value_cut_short() {
    return ReaderError::unexpected_eof("unexpected eof").with_detail("a value runs past the end of its signal's data");
}
ReaderError slot_past_table() { return ReaderError::invalid_data("a change lies past the end of its block's time table"); }
ReaderError bad_varint(const std::uint8_t* start, const std::uint8_t* end) {
    const std::uint8_t* p = start;
    return decode_varint_u32(p, end).error();
}

}  // namespace change_errors

}  // namespace fst_container
