#include "formats/fsdb/fsdb.hpp"

#include <cstdio>

#include "bytes/byte_scan.hpp"
#include "trace/derived_scopes.hpp"
#include "bytes/file_bytes.hpp"
#include "trace/name_table.hpp"

namespace quor_core::trace {

namespace {

constexpr uint32_t kFirstLayout = 0xFDE099C1;
constexpr uint32_t kSecondLayout = 0x1C3ED948;

// First layout: names only, one timestamp, no values.
TraceRecord parse_names_only(Bytes file) {
    NameTable names;
    const size_t from = std::min<size_t>(272, file.size());
    for (const std::string& name : extract_identifiers_fsdb(file.subspan(from))) names.add(name);
    TraceRecord& r = names.record();
    r.scopes = derive_scopes(r.signal_names);
    r.timestamps = {0};
    return std::move(r);
}

}  // namespace

Result<FsdbTrace, std::string> FsdbTrace::from_bytes(Bytes file) {
    if (file.size() < 12) return make_err(std::string("FSDB file too small"));
    const uint32_t magic = be32(file, 4);
    if (magic == kFirstLayout) return FsdbTrace(parse_names_only(file));
    if (magic == kSecondLayout) return FsdbTrace(fsdb::parse_modern(file));
    char msg[64];
    std::snprintf(msg, sizeof msg, "Not an FSDB file (magic=0x%08X)", magic);
    return make_err(std::string(msg));
}

Result<FsdbTrace, std::string> FsdbTrace::from_file(const std::string& path, const util::Interrupt& interrupt) {
    auto bytes = read_file_or_message(path, interrupt);
    if (!bytes.ok()) return make_err(std::move(bytes).error());
    return from_bytes(bytes.value());
}

}  // namespace quor_core::trace
