#include "hierarchy.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "compression/compression.hpp"
#include "reader.hpp"
#include "utf8.hpp"

namespace fst_container {
namespace {

constexpr std::uint8_t tag_attribute_begin = 252;
constexpr std::uint8_t tag_attribute_end = 253;
constexpr std::uint8_t tag_scope = 254;
constexpr std::uint8_t tag_upscope = 255;
constexpr std::uint8_t max_var_type = 29;
constexpr std::uint8_t var_type_port = 18;
constexpr std::uint8_t max_direction = 5;
constexpr std::uint8_t max_attribute_type = 3;
constexpr std::uint8_t max_misc_subtype = 8;
constexpr std::uint8_t attribute_misc = 0;

enum MiscSubtype : std::uint8_t {
    Comment = 0,
    EnvVar = 1,
    SupVar = 2,
    PathName = 3,
    SourceStem = 4,
    SourceIStem = 5,
    ValueList = 6,
    EnumTable = 7,
    Unknown = 8,
};

bool valid_scope_type(std::uint8_t t) { return t <= 22 || t >= 252; }

ReaderError unsupported(const std::string& what) { return ReaderError::io(IoKind::Unsupported, what); }

// A length from the file as a read size: reads stop at the end of the input anyway.
std::size_t clamp_size(std::uint64_t len) { return static_cast<std::size_t>(std::min<std::uint64_t>(len, SIZE_MAX)); }

ReaderError hierarchy_too_short(std::uint64_t section_len) {
    return ReaderError::invalid_data("the block's length, " + std::to_string(section_len) +
                                     ", is too short for a hierarchy block");
}

Result<std::vector<std::uint8_t>> lz4_block(std::span<const std::uint8_t> input, std::uint64_t out_len) {
    // Input that cannot hold the stated output (a block cut short by the end of the file, most
    // likely) fails as the decompressor would, without the allocation.
    if (!expansion_plausible(input.size(), out_len, max_lz4_ratio)) return lz4_implausible(input.size(), out_len);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(out_len));
    FST_TRY(const std::size_t produced, lz4_decompress_into(input, out.data(), out.size()));
    if (produced != out_len) return ReaderError::invalid_data("the hierarchy is shorter than its stated length");
    return out;
}

Result<FstHierarchyEntry> parse_enum_table(const std::string& text, std::uint64_t handle) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        if (space == std::string::npos) {
            tokens.push_back(text.substr(start));
            break;
        }
        tokens.push_back(text.substr(start, space - start));
        start = space + 1;
    }
    if (tokens.size() < 2) return ReaderError::enum_table_string("not enough spaces", text);
    const std::string& count_text = tokens[1];
    const char* first = count_text.data();
    const char* const last = first + count_text.size();
    if (first != last && *first == '+') ++first;
    std::uint64_t count = 0;
    const auto parsed = std::from_chars(first, last, count);
    if (first == last || parsed.ec != std::errc{} || parsed.ptr != last) {
        return ReaderError::parse_int(first == last ? "Empty" : parsed.ec == std::errc::result_out_of_range
                                                                    ? "PosOverflow"
                                                                    : "InvalidDigit");
    }
    const std::size_t values = tokens.size() - 2;
    if (count > values || 2 * count != values) {
        const std::string expected = count > UINT64_MAX / 2 ? "more than " + std::to_string(UINT64_MAX)
                                                            : std::to_string(2 * count);
        return ReaderError::enum_table_string("expected " + expected + " parts got " + std::to_string(values), text);
    }
    FstEnumTable table;
    table.name = tokens[0];
    table.handle = handle;
    const auto n = static_cast<std::size_t>(count);
    table.mapping.reserve(n);
    for (std::size_t i = 0; i < n; ++i) table.mapping.emplace_back(tokens[2 + i], tokens[2 + n + i]);
    return FstHierarchyEntry{std::move(table)};
}

Result<FstHierarchyEntry> read_attribute(ByteSource& src) {
    FST_TRY(const std::uint8_t attr_type, src.read_u8());
    if (attr_type > max_attribute_type) return ReaderError::rejected(ErrorKind::AttributeType, attr_type);
    FST_TRY(const std::uint8_t subtype, src.read_u8());
    if (subtype > max_misc_subtype) return ReaderError::rejected(ErrorKind::MiscType, subtype);
    if (attr_type != attribute_misc) {
        return unsupported("attribute type " + std::to_string(attr_type) + " is not supported");
    }
    if (subtype == SourceStem || subtype == SourceIStem) {
        FST_TRY(const auto path_id, read_variant_u64(src));
        FST_TRY(const std::uint8_t zero, src.read_u8());
        if (zero != 0) return ReaderError::invalid_data("a source stem's path id is not followed by a zero byte");
        FST_TRY(const auto line, read_variant_u64(src));
        return parse_misc_attribute(std::string(), subtype, line.value, path_id.value);
    }
    FST_TRY(std::string name, read_c_str(src, attribute_name_max));
    FST_TRY(const auto argument, read_variant_u64(src));
    return parse_misc_attribute(std::move(name), subtype, argument.value, std::nullopt);
}

}  // namespace

Result<FstHierarchyEntry> parse_misc_attribute(std::string name, std::uint8_t subtype, std::uint64_t argument,
                                               std::optional<std::uint64_t> path_id) {
    switch (subtype) {
        case Comment: return FstHierarchyEntry{FstComment{std::move(name)}};
        case SupVar: {
            const auto var_type = static_cast<std::uint8_t>((argument >> 10) & 0xFF);
            if (var_type > 5) return ReaderError::rejected(ErrorKind::FstVhdlVarType, var_type);
            const auto data_type = static_cast<std::uint8_t>(argument & 0xFF);
            if (data_type > 16) return ReaderError::rejected(ErrorKind::FstVhdlDataType, data_type);
            return FstHierarchyEntry{FstVhdlVarInfo{std::move(name), var_type, data_type}};
        }
        case PathName: return FstHierarchyEntry{FstPathName{std::move(name), argument}};
        case SourceStem:
        case SourceIStem:
            return FstHierarchyEntry{FstSourceStem{subtype == SourceIStem, path_id.value_or(0), argument}};
        case EnumTable:
            if (name.empty()) return FstHierarchyEntry{FstEnumTableRef{argument}};
            return parse_enum_table(name, argument);
        default: return unsupported("misc attribute subtype " + std::to_string(subtype) + " is not supported");
    }
}

Result<std::vector<std::uint8_t>> read_hierarchy_bytes(ByteSource& src, HierarchyCompression compression) {
    const std::uint64_t section_pos = src.position();
    FST_TRY(const std::uint64_t section_len, read_u64(src));
    FST_TRY(const std::uint64_t uncompressed_len, read_u64(src));
    switch (compression) {
        case HierarchyCompression::ZLib: {
            if (section_len < 26) return hierarchy_too_short(section_len);
            FST_CHECK(read_gzip_header(src));
            // The DEFLATE data runs to the end of the block (the member header may hold optional
            // fields; its trailer is not needed).
            const std::uint64_t section_end = section_pos + std::min(section_len, UINT64_MAX - section_pos);
            const std::uint64_t data_len = section_end > src.position() ? section_end - src.position() : 0;
            FST_TRY(const std::vector<std::uint8_t> input, read_bytes(src, clamp_size(data_len)));
            if (!expansion_plausible(input.size(), uncompressed_len, max_deflate_ratio)) {
                return ReaderError::invalid_data("the hierarchy claims more bytes than its compressed form can hold");
            }
            std::vector<std::uint8_t> out(static_cast<std::size_t>(uncompressed_len));
            FST_TRY(const std::size_t produced, inflate_into(input, out.data(), out.size(), DeflateFormat::Raw));
            if (produced != uncompressed_len) {
                return ReaderError::invalid_data("the hierarchy is shorter than its stated length");
            }
            return out;
        }
        case HierarchyCompression::Lz4: {
            if (section_len < 16) return hierarchy_too_short(section_len);
            FST_TRY(const std::vector<std::uint8_t> input, read_bytes(src, clamp_size(section_len - 16)));
            return lz4_block(input, uncompressed_len);
        }
        case HierarchyCompression::Lz4Duo: {
            FST_TRY(const auto middle_len, read_variant_u64(src));
            if (section_len < 16 + std::uint64_t{middle_len.length}) {
                return hierarchy_too_short(section_len);
            }
            FST_TRY(const std::vector<std::uint8_t> input,
                    read_bytes(src, clamp_size(section_len - 16 - middle_len.length)));
            FST_TRY(const std::vector<std::uint8_t> middle, lz4_block(input, middle_len.value));
            return lz4_block(middle, uncompressed_len);
        }
    }
    return ReaderError::invalid_data("unknown hierarchy compression");
}

Result<bool> read_hierarchy_entry(ByteSource& src, std::uint32_t& handle_counter, FstHierarchyEntry& entry) {
    if (src.remaining() == 0) return false;
    FST_TRY(const std::uint8_t tag, src.read_u8());
    switch (tag) {
        case tag_scope: {
            FST_TRY(const std::uint8_t scope_type, src.read_u8());
            if (!valid_scope_type(scope_type)) return ReaderError::rejected(ErrorKind::FstScopeType, scope_type);
            FST_TRY(std::string name, read_c_str(src, hierarchy_name_max));
            FST_TRY(std::string component, read_c_str(src, hierarchy_name_max));
            entry = FstScope{scope_type, std::move(name), std::move(component)};
            return true;
        }
        case tag_upscope: entry = FstUpScope{}; return true;
        case tag_attribute_begin: {
            FST_TRY(entry, read_attribute(src));
            return true;
        }
        case tag_attribute_end: entry = FstAttributeEnd{}; return true;
        default: break;
    }
    if (tag > max_var_type) return ReaderError::rejected(ErrorKind::FstVarType, tag);
    FST_TRY(const std::uint8_t direction, src.read_u8());
    if (direction > max_direction) return ReaderError::rejected(ErrorKind::FstVarDirection, direction);
    FST_TRY(std::string name, read_c_str(src, hierarchy_name_max));
    FST_TRY(const auto raw_length, read_variant_u32(src));
    FST_TRY(const auto alias, read_variant_u32(src));
    FstVar var;
    var.var_type = tag;
    var.direction = direction;
    var.name = std::move(name);
    if (alias.value == 0) {
        if (handle_counter == 0xFFFFFFFFu) return ReaderError::invalid_data("the hierarchy declares more signals than there are handles");
        ++handle_counter;
        var.handle = *FstSignalHandle::from_value(handle_counter);
        var.is_alias = false;
    } else {
        var.handle = *FstSignalHandle::from_value(alias.value);
        var.is_alias = true;
    }
    // A port stores 3 * width + 2; shorter values mean no width at all.
    var.length = tag == var_type_port ? (raw_length.value >= 2 ? (raw_length.value - 2) / 3 : 0) : raw_length.value;
    entry = std::move(var);
    return true;
}

namespace {

bool all_ascii(std::string_view text) {
    unsigned char any = 0;
    for (const char c : text) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

// A zero-terminated UTF-8 text in place, as read_c_str accepts it; advances p past the zero.
bool quick_c_str(const std::uint8_t*& p, const std::uint8_t* end, std::string_view& text) {
    const std::size_t scan = std::min(static_cast<std::size_t>(end - p), hierarchy_name_max);
    const auto* zero = static_cast<const std::uint8_t*>(scan == 0 ? nullptr : std::memchr(p, 0, scan));
    if (zero == nullptr) return false;
    text = std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(zero - p));
    if (!all_ascii(text) && !is_valid_utf8(text)) return false;
    p = zero + 1;
    return true;
}

// Reads a scope, upscope, variable or attribute end at p without copying its texts and hands
// it to visitor. Anything else, and anything faulty, is left to read_hierarchy_entry (which
// reads the same entries, and gives the error): false, with nothing read or handed out.
bool quick_entry(const std::uint8_t*& p, const std::uint8_t* end, std::uint32_t& handle_counter,
                 HierarchyVisitor& visitor) {
    const std::uint8_t* q = p;
    const std::uint8_t tag = *q++;
    if (tag == tag_upscope) {
        p = q;
        visitor.upscope();
        return true;
    }
    if (tag == tag_attribute_end) {
        p = q;
        visitor.other(FstAttributeEnd{});
        return true;
    }
    if (tag == tag_scope) {
        if (q == end || !valid_scope_type(*q)) return false;
        FstScopeRef scope;
        scope.scope_type = *q++;
        if (!quick_c_str(q, end, scope.name) || !quick_c_str(q, end, scope.component)) return false;
        p = q;
        visitor.scope(scope);
        return true;
    }
    if (tag > max_var_type || q == end || *q > max_direction) return false;
    FstVarRef var;
    var.var_type = tag;
    var.direction = *q++;
    std::uint32_t raw_length = 0;
    std::uint32_t alias = 0;
    if (!quick_c_str(q, end, var.name) || !try_varint_u32(q, end, raw_length) || !try_varint_u32(q, end, alias)) {
        return false;
    }
    if (alias == 0) {
        if (handle_counter == 0xFFFFFFFFu) return false;
        var.handle = *FstSignalHandle::from_value(handle_counter + 1);
    } else {
        var.handle = *FstSignalHandle::from_value(alias);
        var.is_alias = true;
    }
    var.length = tag == var_type_port ? (raw_length >= 2 ? (raw_length - 2) / 3 : 0) : raw_length;
    if (alias == 0) ++handle_counter;
    p = q;
    visitor.var(var);
    return true;
}

// Hands an entry read whole to visitor.
void deliver(const FstHierarchyEntry& entry, HierarchyVisitor& visitor) {
    if (const auto* scope = std::get_if<FstScope>(&entry)) {
        visitor.scope(FstScopeRef{scope->scope_type, scope->name, scope->component});
    } else if (std::holds_alternative<FstUpScope>(entry)) {
        visitor.upscope();
    } else if (const auto* var = std::get_if<FstVar>(&entry)) {
        visitor.var(FstVarRef{var->var_type, var->direction, var->name, var->length, var->handle, var->is_alias});
    } else {
        visitor.other(entry);
    }
}

// Hands every entry to a callback as an entry of its own (texts copied).
class EntryCopier final : public HierarchyVisitor {
public:
    explicit EntryCopier(HierarchyCallback callback) : callback_(callback) {}
    void scope(const FstScopeRef& scope) override {
        callback_(FstScope{scope.scope_type, std::string(scope.name), std::string(scope.component)});
    }
    void upscope() override { callback_(FstUpScope{}); }
    void var(const FstVarRef& var) override {
        callback_(FstVar{var.var_type, var.direction, std::string(var.name), var.length, var.handle, var.is_alias});
    }
    void other(const FstHierarchyEntry& entry) override { callback_(entry); }

private:
    HierarchyCallback callback_;
};

}  // namespace

Status FstReader::read_hierarchy(HierarchyCallback callback) {
    EntryCopier copier(callback);
    return visit_hierarchy(copier);
}

Status FstReader::visit_hierarchy(HierarchyVisitor& visitor) {
    auto bytes = read_hierarchy_block();
    if (!bytes.ok()) return std::move(bytes).error();
    return visit_hierarchy(bytes.value(), visitor);
}

Result<std::vector<std::uint8_t>> FstReader::read_hierarchy_block() {
    FST_CHECK(source_->seek(meta_.hierarchy_offset));
    auto read = read_hierarchy_bytes(*source_, meta_.hierarchy_compression);
    if (read.ok()) return read;
    ReaderError error = std::move(read).error();
    // A block cut short by the end of the file fails to decompress; say why.
    std::uint8_t length[8];
    if (source_->read_at(meta_.hierarchy_offset, length, sizeof length).ok() && source_->size() != 0) {
        std::uint64_t section_len = 0;
        for (const std::uint8_t b : length) section_len = section_len << 8 | b;
        if (section_len > source_->size() - meta_.hierarchy_offset) {
            error.with_detail(block_past_end(*source_, section_len).detail);
        }
    }
    return located(std::move(error), block_place(BlockType::Hierarchy, meta_.hierarchy_offset - 1));
}

Status FstReader::visit_hierarchy(const std::vector<std::uint8_t>& bytes, HierarchyVisitor& visitor) const {
    visitor.start(bytes.size());
    const std::uint8_t* const begin = bytes.data();
    const std::uint8_t* const end = begin + bytes.size();
    const std::uint8_t* p = begin;
    SliceSource entries(bytes, "the decompressed hierarchy");
    std::uint32_t handle_counter = 0;
    FstHierarchyEntry entry;
    for (std::uint64_t number = 1; p != end; ++number) {
        if (quick_entry(p, end, handle_counter, visitor)) continue;
        const auto entry_pos = static_cast<std::uint64_t>(p - begin);
        FST_CHECK(entries.seek(entry_pos));
        auto more = read_hierarchy_entry(entries, handle_counter, entry);
        if (!more.ok()) {
            return located(std::move(more).error().at("in hierarchy entry " + std::to_string(number) + " at byte " +
                                                      std::to_string(entry_pos) + " of the decompressed hierarchy"),
                           block_place(BlockType::Hierarchy, meta_.hierarchy_offset - 1));
        }
        if (!more.value()) break;
        p = begin + entries.position();
        deliver(entry, visitor);
    }
    return {};
}

}  // namespace fst_container
