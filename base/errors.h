// How failures are reported, layer by layer. Nothing throws anywhere; every
// operation that can fail says so in its return value, and its header says
// which of these shapes it uses:
//
//  - The OS seams (base/fs.h, extract/output_file.h): 0 for success, else
//    the errno value of the failure (EIO when the system set none). A
//    question ("does it exist?") is a bool; a position is the number, or
//    -1 when it cannot be had (fs::tell(), as ftell()); a best-effort
//    cleanup whose failure no caller could act on returns nothing
//    (fs::emptyFolderBelow()).
//  - The extraction (extract/): the LZMA SDK's result, named by its
//    SZ_ERROR_* constant (SZ_OK is 0); SZ_ERROR_FAIL (11) for an output
//    file that cannot be written or an entry that is refused. Outside
//    extract/ the same numbers carry the names of extract/block_extraction.h
//    (kErrorMem, kErrorCrc, ...).
//  - Core, the host operations (core/platform.h) and tools: a bool when
//    the caller only needs to know; when the user must also be told why, a
//    bool with the message for the user set through a `std::string* message`
//    (false: failed, message set). mkbundle's build, which prints one error
//    and stops, returns that message itself as a std::string, empty on
//    success; its --list and --verify, whose report is the answer, return
//    false with the message empty when the report says why.
//    A std::optional is never an error: it holds a value that may be absent
//    (a property, a chosen location). A step with more outcomes than two
//    names them in an enum (Extraction, core/main_flow.h). The caller
//    prints the message; the launcher then ends with exit code 1.
#pragma once

#include <cerrno>

namespace kv {

// The errno value of a failure just reported by the system, EIO when it
// set none.
inline int lastError() { return errno != 0 ? errno : EIO; }

// A C library call's result (0, or -1 with errno set) as a seam result:
// 0, or the errno value.
inline int errnoResult(int result) { return result == 0 ? 0 : lastError(); }

}  // namespace kv
