#include "error.hpp"

#include <cstdio>

namespace fst_container {
namespace {

const char* io_kind_name(IoKind kind) {
    switch (kind) {
        case IoKind::UnexpectedEof: return "UnexpectedEof";
        case IoKind::InvalidInput: return "InvalidInput";
        case IoKind::InvalidData: return "InvalidData";
        case IoKind::Unsupported: return "Unsupported";
        case IoKind::Os: return "Os";
    }
    return "Os";
}

// Debug form of a string: double-quoted with quotes, backslashes and control
// characters escaped.
std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u{%x}", u);
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

}  // namespace

const char* error_kind_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::CStringTooLong: return "CStringTooLong";
        case ErrorKind::EnumTableString: return "EnumTableString";
        case ErrorKind::Leb128: return "Leb128";
        case ErrorKind::ParseInt: return "ParseInt";
        case ErrorKind::Lz4Decompress: return "Lz4Decompress";
        case ErrorKind::ZLibDecompress: return "ZLibDecompress";
        case ErrorKind::GZipHeader: return "GZipHeader";
        case ErrorKind::GZipBody: return "GZipBody";
        case ErrorKind::Utf8: return "Utf8";
        case ErrorKind::Utf8String: return "Utf8String";
        case ErrorKind::Io: return "Io";
        case ErrorKind::NotFinishedCompressing: return "NotFinishedCompressing";
        case ErrorKind::BlockType: return "BlockType";
        case ErrorKind::FileType: return "FileType";
        case ErrorKind::FstVhdlVarType: return "FstVhdlVarType";
        case ErrorKind::FstVhdlDataType: return "FstVhdlDataType";
        case ErrorKind::FstVarType: return "FstVarType";
        case ErrorKind::FstScopeType: return "FstScopeType";
        case ErrorKind::FstVarDirection: return "FstVarDirection";
        case ErrorKind::AttributeType: return "AttributeType";
        case ErrorKind::MiscType: return "MiscType";
        case ErrorKind::MissingGeometry: return "MissingGeometry";
        case ErrorKind::MissingHierarchy: return "MissingHierarchy";
    }
    return "Io";
}

std::string ReaderError::display() const {
    std::string fault = detail;
    if (kind == ErrorKind::Io && fault.empty()) {
        if (io_kind == IoKind::Os) {
            fault = text + " (os error " + std::to_string(os_error) + ")";
        } else {
            fault = io_kind == IoKind::UnexpectedEof ? "the data ends early" : text;
        }
    } else if (kind >= ErrorKind::BlockType && kind <= ErrorKind::MiscType) {
        fault = std::to_string(number) + (fault.empty() ? "" : " " + fault);
    }
    std::string out = kind_text();
    // These texts are whole sentences that say what is wrong with the file as a whole.
    if (kind == ErrorKind::NotFinishedCompressing || kind == ErrorKind::MissingGeometry ||
        kind == ErrorKind::MissingHierarchy) {
        return out;
    }
    if (!fault.empty()) out += ": " + fault;
    if (!where.empty()) out += ", " + where;
    return out;
}

ReaderError& ReaderError::at(const std::string& place) & {
    where += where.empty() ? place : ", " + place;
    return *this;
}

std::string ReaderError::kind_text() const {
    switch (kind) {
        case ErrorKind::CStringTooLong:
            return "failed to read a null terminated string because it exceeds the expected size of " +
                   std::to_string(number) + " bytes.\n" + text;
        case ErrorKind::EnumTableString:
            return "failed to parse an enum table string: " + text + "\n" + text2;
        case ErrorKind::Leb128:
            return "failed to read leb128 integer, more than the expected " + std::to_string(number) + " bits";
        case ErrorKind::ParseInt: return "failed to parse an integer";
        case ErrorKind::Lz4Decompress: return "failed to decompress with lz4";
        case ErrorKind::ZLibDecompress: return "failed to decompress with zlib";
        case ErrorKind::GZipHeader: return "failed to parse a gzip header: " + text;
        case ErrorKind::GZipBody: return "failed to decompress gzip stream: " + text;
        case ErrorKind::Utf8:
        case ErrorKind::Utf8String: return "failed to decode string";
        case ErrorKind::Io: return "I/O operation failed";
        case ErrorKind::NotFinishedCompressing:
            return "The FST file is still being compressed into its final GZIP wrapper.";
        case ErrorKind::BlockType: return "Unexpected block type";
        case ErrorKind::FileType: return "Unexpected file type";
        case ErrorKind::FstVhdlVarType: return "Unexpected vhdl variable type";
        case ErrorKind::FstVhdlDataType: return "Unexpected vhdl data type";
        case ErrorKind::FstVarType: return "Unexpected variable type";
        case ErrorKind::FstScopeType: return "Unexpected scope type";
        case ErrorKind::FstVarDirection: return "Unexpected variable direction";
        case ErrorKind::AttributeType: return "Unexpected attribute type";
        case ErrorKind::MiscType: return "Unexpected misc attribute type";
        case ErrorKind::MissingGeometry: return "The FST file is incomplete: geometry block is missing.";
        case ErrorKind::MissingHierarchy: return "The FST file is incomplete: hierarchy block is missing.";
    }
    return "I/O operation failed";
}

std::string ReaderError::debug() const {
    std::string name = error_kind_name(kind);
    switch (kind) {
        case ErrorKind::CStringTooLong:
            return name + "(" + std::to_string(number) + ", " + quoted(text) + ")";
        case ErrorKind::EnumTableString: return name + "(" + quoted(text) + ", " + quoted(text2) + ")";
        case ErrorKind::Leb128: return name + "(" + std::to_string(number) + ")";
        case ErrorKind::ParseInt: return name + "(ParseIntError { kind: " + text + " })";
        case ErrorKind::Lz4Decompress:
            return name + "(DecompressError { code: " + std::to_string(static_cast<std::int64_t>(number)) + " })";
        case ErrorKind::ZLibDecompress:
            return name + "(DecompressError { status: " + std::to_string(static_cast<std::int64_t>(number)) +
                   ", produced: " + std::to_string(number2) + " })";
        case ErrorKind::GZipHeader:
        case ErrorKind::GZipBody: return name + "(" + quoted(text) + ")";
        case ErrorKind::Utf8:
            return name + "(Utf8Error { valid_up_to: " + std::to_string(number) +
                   ", error_len: " + std::to_string(number2) + " })";
        case ErrorKind::Utf8String: {
            std::string bytes = "[";
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (i) bytes += ", ";
                bytes += std::to_string(static_cast<unsigned char>(text[i]));
            }
            return name + "(FromUtf8Error { bytes: " + bytes + "] })";
        }
        case ErrorKind::Io:
            if (io_kind == IoKind::Os) {
                return name + "(Os { code: " + std::to_string(os_error) + ", message: " + quoted(text) + " })";
            }
            return name + "(Custom { kind: " + io_kind_name(io_kind) + ", error: " + quoted(text) + " })";
        case ErrorKind::BlockType:
        case ErrorKind::FileType:
        case ErrorKind::FstVhdlVarType:
        case ErrorKind::FstVhdlDataType:
        case ErrorKind::FstVarType:
        case ErrorKind::FstScopeType:
        case ErrorKind::FstVarDirection:
        case ErrorKind::AttributeType:
        case ErrorKind::MiscType: return name + "(" + std::to_string(number) + ")";
        case ErrorKind::NotFinishedCompressing:
        case ErrorKind::MissingGeometry:
        case ErrorKind::MissingHierarchy: return name;
    }
    return name;
}

ReaderError ReaderError::c_string_too_long(std::size_t max_size, std::string so_far) {
    ReaderError e;
    e.kind = ErrorKind::CStringTooLong;
    e.number = max_size;
    e.text = std::move(so_far);
    return e;
}

ReaderError ReaderError::enum_table_string(std::string first, std::string second) {
    ReaderError e;
    e.kind = ErrorKind::EnumTableString;
    e.text = std::move(first);
    e.text2 = std::move(second);
    return e;
}

ReaderError ReaderError::leb128(std::uint32_t bits) { return rejected(ErrorKind::Leb128, bits); }

ReaderError ReaderError::parse_int(std::string detail) {
    ReaderError e;
    e.kind = ErrorKind::ParseInt;
    e.text = std::move(detail);
    return e;
}

ReaderError ReaderError::lz4(std::int64_t code) {
    ReaderError e;
    e.kind = ErrorKind::Lz4Decompress;
    e.number = static_cast<std::uint64_t>(code);
    return e;
}

ReaderError ReaderError::zlib(int status, std::uint64_t produced) {
    ReaderError e;
    e.kind = ErrorKind::ZLibDecompress;
    e.number = static_cast<std::uint64_t>(static_cast<std::int64_t>(status));
    e.number2 = produced;
    return e;
}

ReaderError ReaderError::gzip_header(std::string message) {
    ReaderError e;
    e.kind = ErrorKind::GZipHeader;
    e.text = std::move(message);
    return e;
}

ReaderError ReaderError::gzip_body(std::string message) {
    ReaderError e;
    e.kind = ErrorKind::GZipBody;
    e.text = std::move(message);
    return e;
}

ReaderError ReaderError::utf8(std::size_t valid_up_to, std::size_t error_len) {
    ReaderError e;
    e.kind = ErrorKind::Utf8;
    e.number = valid_up_to;
    e.number2 = error_len;
    return e;
}

ReaderError ReaderError::utf8_string(std::string bytes) {
    ReaderError e;
    e.kind = ErrorKind::Utf8String;
    e.text = std::move(bytes);
    return e;
}

ReaderError ReaderError::io(IoKind io_kind, std::string message, int os_error) {
    ReaderError e;
    e.kind = ErrorKind::Io;
    e.io_kind = io_kind;
    e.text = std::move(message);
    e.os_error = os_error;
    return e;
}

ReaderError ReaderError::unexpected_eof(std::string message) {
    return io(IoKind::UnexpectedEof, std::move(message));
}

ReaderError ReaderError::invalid_data(std::string message) { return io(IoKind::InvalidData, std::move(message)); }

ReaderError ReaderError::of_kind(ErrorKind kind) {
    ReaderError e;
    e.kind = kind;
    return e;
}

ReaderError ReaderError::rejected(ErrorKind kind, std::uint64_t number) {
    ReaderError e;
    e.kind = kind;
    e.number = number;
    return e;
}

}  // namespace fst_container
