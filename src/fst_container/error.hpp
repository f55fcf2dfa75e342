#pragma once
// The one error type of the FST reader: a kind plus its payload.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace fst_container {

enum class ErrorKind : std::uint8_t {
    CStringTooLong,
    EnumTableString,
    Leb128,
    ParseInt,
    Lz4Decompress,
    ZLibDecompress,
    GZipHeader,
    GZipBody,
    Utf8,
    Utf8String,
    Io,
    NotFinishedCompressing,
    BlockType,
    FileType,
    FstVhdlVarType,
    FstVhdlDataType,
    FstVarType,
    FstScopeType,
    FstVarDirection,
    AttributeType,
    MiscType,
    MissingGeometry,
    MissingHierarchy,
};

// Classes of I/O failure. Structural faults of a file are reported as Io
// errors of kind InvalidData with a message that names the fault.
enum class IoKind : std::uint8_t { UnexpectedEof, InvalidInput, InvalidData, Unsupported, Os };

const char* error_kind_name(ErrorKind kind);

struct ReaderError {
    ErrorKind kind = ErrorKind::Io;
    // Numeric payload: maximum size, bit width, rejected number, library status
    // or valid UTF-8 prefix length, by kind.
    std::uint64_t number = 0;
    // Second numeric payload: bytes produced before a zlib error, or the
    // length of an invalid UTF-8 sequence.
    std::uint64_t number2 = 0;
    // Text payload: text read so far, message, I/O message or rejected bytes.
    std::string text;
    std::string text2;
    IoKind io_kind = IoKind::Os;
    int os_error = 0;
    // What exactly was wrong, for the user: "the file ends at byte 120", "the header sets
    // reserved flags". Empty when the kind's text says it all.
    std::string detail;
    // Where it was met, innermost first: "in the geometry block at byte 331".
    std::string where;

    // The user-facing text: the kind's fixed text, then what was wrong and where.
    std::string display() const;
    // Variant name followed by its payload in parentheses.
    std::string debug() const;

    static ReaderError c_string_too_long(std::size_t max_size, std::string so_far);
    static ReaderError enum_table_string(std::string first, std::string second);
    static ReaderError leb128(std::uint32_t bits);
    static ReaderError parse_int(std::string detail);
    static ReaderError lz4(std::int64_t code);
    static ReaderError zlib(int status, std::uint64_t produced);
    static ReaderError gzip_header(std::string message);
    static ReaderError gzip_body(std::string message);
    static ReaderError utf8(std::size_t valid_up_to, std::size_t error_len);
    static ReaderError utf8_string(std::string bytes);
    static ReaderError io(IoKind io_kind, std::string message, int os_error = 0);
    // An exact read met the end of its input.
    static ReaderError unexpected_eof(std::string message = "failed to fill whole buffer");
    // A structural inconsistency of the file.
    static ReaderError invalid_data(std::string message);
    static ReaderError of_kind(ErrorKind kind);
    static ReaderError rejected(ErrorKind kind, std::uint64_t number);

    // Adds the place the error was met, outside the places given before.
    ReaderError& at(const std::string& place) &;
    ReaderError&& at(const std::string& place) && { return std::move(at(place)); }
    ReaderError& with_detail(std::string what) & {
        detail = std::move(what);
        return *this;
    }
    ReaderError&& with_detail(std::string what) && { return std::move(with_detail(std::move(what))); }

private:
    // The fixed text of the kind, with the payloads that belong to it.
    std::string kind_text() const;
};

}  // namespace fst_container
