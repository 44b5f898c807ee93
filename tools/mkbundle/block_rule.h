// The block rule of mkbundle's default method: files that LZMA barely
// shrinks (already compressed: zip-based .jmod and .jar files, .gz, images)
// decode at a fraction of the speed of ordinary data, so in the common 8 MB
// blocks one of them would keep a processor for several times as long as
// any other block. They go into solid blocks of their own, cut into 2 MiB
// independent LZMA2 blocks, each of which decodes in about the time of an
// 8 MiB block of ordinary data.
//
// Which files: every regular file of at least kProbeMinSize bytes is
// probed; a fast LZMA pass over kProbePieces pieces of kProbePiece bytes,
// starting at every kProbePieces-th part of the file (all of it when
// smaller), says how much it shrinks, and a file whose sample keeps more
// than 9/10 of its size goes to the small blocks. The pieces never end at
// the file's end, where a zip's directory of names shrinks like text (it
// made the .jmod files look compressible). On the Java 17 runtime this
// takes 41 files of 75 MB, which LZMA2 with 7zz's defaults keeps at 94 %. The pieces depend on the
// file's size only and the pass runs on one thread, so the same files give the same split on any
// machine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/mkbundle/tree_walk.h"

namespace mkbundle {

constexpr uint64_t kProbeMinSize = 64u << 10;
constexpr uint64_t kProbePiece = 128u << 10;
constexpr unsigned kProbePieces = 8;

struct ProbeRange {
  uint64_t offset;
  uint64_t size;
};

// The pieces of a file of `fileSize` bytes that the probe compresses.
std::vector<ProbeRange> probeRanges(uint64_t fileSize);

// Whether a sample that the fast pass turned from `sampleBytes` into
// `packedBytes` goes to the small blocks.
bool barelyShrinks(uint64_t sampleBytes, uint64_t packedBytes);

// Compresses the probe ranges of one entry: "" with the sample's and the
// result's sizes, or the error.
using Probe =
    std::function<std::string(const TreeEntry& entry, uint64_t* sample, uint64_t* packed)>;

// Splits the entries of `listing` (order kept) into those of the common
// blocks and those of the small blocks. "" or the first probe's error.
std::string splitByContent(const TreeListing& listing, const Probe& probe,
                           std::vector<TreeEntry>* common, std::vector<TreeEntry>* small);

}  // namespace mkbundle
