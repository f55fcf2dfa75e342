#include "formats/shm/shm.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "bytes/file_bytes.hpp"
#include "util/os_error.hpp"

namespace quor_core::trace {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool ends_with(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct Files {
    std::optional<std::string> design;
    std::vector<std::string> transitions;
    bool transition_named = false;  // the path itself is a transition file
};

Result<Files, std::string> locate(const std::string& path) {
    Files f;
    std::error_code ec;
    // A path with a NUL byte names nothing: it is no directory and has no companions, and reading
    // it fails with its own message.
    const bool nul = util::has_nul(path);
    if (!nul && fs::is_directory(path, ec)) {
        fs::directory_iterator it(path, ec);
        if (ec) return make_err("No .dsn/.trn in " + path);
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            const std::string name = lower(it->path().filename().string());
            if (ends_with(name, ".dsn")) f.design = it->path().string();
            if (ends_with(name, ".trn")) f.transitions.push_back(it->path().string());
        }
        if (!f.design && f.transitions.empty()) return make_err("No .dsn/.trn in " + path);
        std::sort(f.transitions.begin(), f.transitions.end());
        return f;
    }
    const fs::path p(path);
    const std::string ext = lower(p.extension().string());
    if (ext == ".trn") {
        f.transitions.push_back(path);
        f.transition_named = true;
        const fs::path dsn = fs::path(p).replace_extension("dsn");
        if (!nul && fs::exists(dsn, ec)) f.design = dsn.string();
    } else {
        f.design = path;
        if (ext == ".dsn") {
            const fs::path trn = fs::path(p).replace_extension("trn");
            if (!nul && fs::exists(trn, ec)) f.transitions.push_back(trn.string());
        }
    }
    return f;
}

}  // namespace

// Reads the design first, then each transition file in turn, so one file's bytes are held at a time.
class ShmAssembler {
public:
    Result<bool, std::string> design(Bytes dsn) { return shm::read_design(dsn, names_); }
    void transitions(Bytes trn) {
        shm::FileValues values;
        budget_.grant(trn.size());
        if (shm::decode_transitions(trn, names_.size(), budget_, values)) decoded_.push_back(std::move(values));
    }
    ShmTrace finish() && {
        TraceRecord& r = names_.record();
        shm::store_values(std::move(decoded_), names_.size(), r);
        return ShmTrace(std::move(r));
    }

private:
    NameTable names_;
    shm::Budget budget_;
    std::vector<shm::FileValues> decoded_;
};

Result<ShmTrace, std::string> ShmTrace::from_parts(const std::vector<uint8_t>* dsn,
                                                   const std::vector<std::vector<uint8_t>>& trns) {
    ShmAssembler a;
    if (dsn) {
        auto ok = a.design(*dsn);
        if (!ok.ok()) return make_err(std::move(ok).error());
    }
    for (const std::vector<uint8_t>& trn : trns) a.transitions(trn);
    return std::move(a).finish();
}

Result<ShmTrace, std::string> ShmTrace::from_file(const std::string& path, const util::Interrupt& interrupt) {
    auto located = locate(path);
    if (!located.ok()) return make_err(std::move(located).error());
    const Files& files = located.value();
    ShmAssembler a;
    if (files.design) {
        auto bytes = read_file_bytes(*files.design, interrupt);
        if (!bytes.ok()) return make_err("DSN: " + bytes.error());
        auto ok = a.design(bytes.value());
        if (!ok.ok()) return make_err(std::move(ok).error());
    }
    for (const std::string& trn : files.transitions) {
        auto bytes = read_file_bytes(trn, interrupt);
        if (bytes.ok()) {
            a.transitions(bytes.value());
        } else if (files.transition_named) {
            // A transition file named by the caller must exist: a mistyped path is an error,
            // not an empty trace.
            return make_err("Failed to read " + path + ": " + bytes.error());
        }
    }
    return std::move(a).finish();
}

}  // namespace quor_core::trace
