// Reads TD32 debug information from bytes, wherever they come from: a mapped
// module file, a .tds file, or a buffer. Nothing here touches the operating
// system, so the same reader serves the crash path and the build machine's
// tools and fuzzers.
//
// Positions are file offsets: the block ends the file, its last 8 bytes give
// its signature and total size. Lookups answer indexes into the names table
// (1-based) and -1 where nothing was found. Every offset and count read from
// the data is checked against the data before use: corrupt data answers
// "nothing found", never a read outside it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/Td32Format.h"

namespace crash::td32 {

// Where the reader's bytes come from.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual uint32_t Size() const = 0;
    // `size` bytes at `offset`, valid until the next call; null when they
    // are not all inside the data. The reader checks every request first.
    virtual const uint8_t* Bytes(uint32_t offset, uint32_t size) = 0;
    // The debug block starts at `offset`: a source that maps views may map
    // everything from there to the end at once.
    virtual void BlockAt(uint32_t offset) { (void)offset; }
};

class TReader {
public:
    // Finds the block at the end of `source`, reads its directory and the
    // names table. Loaded() turns true once the directory was read; the
    // answer is true only when the names table was read too. The source
    // must outlive the reader or the next Unload.
    bool Load(TByteSource& source);
    void Unload();

    bool Loaded() const { return FLoaded; }
    // The signature at the start of the last block looked at (kept after Unload).
    uint32_t Signature() const { return FSignature; }
    int32_t SubsectionCount() const { return FLoaded ? FDirectory.sshRecordCount : 0; }
    int32_t NamesCount() const { return FNamesCount; }
    // File position of entry i's data; 0 when i is out of range.
    uint32_t GetSubsectionOffset(int32_t i) const;
    // Bytes held after loading: the directory and one position per name.
    size_t HeldBytes() const;

    // By logical address: compilation unit and procedure, and where a
    // procedure was found, the logical address of its first byte (0 otherwise).
    bool FindModuleProc(uint32_t logical, int32_t& moduleNameIndex, int32_t& procNameIndex, uint32_t& procStart);
    bool FindSourceLine(uint32_t logical, int32_t& srcFileNameIndex, int32_t& srcLineNum, int32_t& srcLineOffset);
    // Name number `index` of the names table as stored (ANSI bytes); empty
    // when there is none.
    std::string GetName(int32_t index);

private:
    bool ReadDebugHeader();
    bool ReadNames();
    bool SubsectionSpan(size_t i, uint32_t& start, uint32_t& size) const;
    bool ReadDword(uint32_t offset, uint32_t& value);
    int32_t FindProcNameIndex(uint32_t logical, uint16_t unit, uint32_t& procStart);

    TByteSource* FSource = nullptr;
    bool FLoaded = false;
    uint32_t FSignature = 0;
    uint32_t FBlockOffset = 0;  // file position of the block base
    uint32_t FDataSize = 0;     // from the block base to the directory
    TDS_SubsectionHeader FDirectory{};
    std::vector<TDS_SubsectionEntry> FEntries;
    int32_t FNamesCount = 0;
    std::vector<uint32_t> FNameIndexes;
};

}  // namespace crash::td32
