// Call stack capture: a tracer that finds candidate return addresses on the
// stack, and the call stack list that annotates them with module, unit,
// procedure, source file and line and renders them as text.
#pragma once
#include <cstdint>
#include <vector>

#include "rtl/StringList.h"

namespace crash {

class TModuleDebugInfo;

// A copy of the top of a thread's stack taken while an exception was
// dispatched. An exception that is shown after it was handled is shown
// when the stack below the handler has been reused; stack words inside the
// copy are read from it instead of from the live stack.
struct TStackSnapshot {
    static constexpr uint32_t cCapacity = 16384;
    uint32_t Base = 0;  // stack address of Bytes[0]
    uint32_t Size = 0;
    uint32_t StackTop = 0;  // the top of the stack the copy was taken from
    uint8_t Bytes[cCapacity];

    // Copies up to cCapacity bytes from `esp` towards the stack top.
    void Take(uint32_t esp, uint32_t stackTop);
    // Reads `count` bytes at `address`, from the copy where it holds them.
    bool Read(uint32_t address, void* buffer, uint32_t count) const;
};

// The snapshot the call stack reads instead of live memory while it is set
// (for the calling thread; null for live memory). The walk then ends at the
// top of the stack the snapshot came from, which may be another thread's.
void SetStackSnapshot(const TStackSnapshot* snapshot);

struct TExcStackFrame {
    TExcStackFrame* PrevEBP;
    uint32_t ReturnAddress;
};

enum TExcStackTracerMode : uint8_t { traceFrames = 0, traceParanoid = 1 };

struct TExcCallStackItem {
    TExcStackFrame* PrevEBP;
    uint32_t ReturnAddress;
    void* ArgsPtr;
    TExcStackFrame* StackFrame;  // also known as DumpPtr
};

class TExcGenericStackTracer {
public:
    void Initialize(TExcStackTracerMode mode, bool suppressRecursion, void* stackBottom, void* stackTop);
    bool Next(TExcCallStackItem& item);

    // Whether the bytes before `r` end with a call instruction (or a return).
    static bool IsValidReturnAddress(uint32_t r);
    static bool IsValidCodeAddr(uint32_t p);

private:
    bool IsInStack(uintptr_t p) const { return p >= FStackBottom && p <= FStackTop; }
    TExcStackTracerMode FMode = traceParanoid;
    uintptr_t FStackBottom = 0;
    uintptr_t FStackTop = 0;
    uintptr_t FCurStackPtr = 0;
    uintptr_t FCurFrame = 0;
};

struct TCallStackItem {
    TModuleDebugInfo* DebugModule;
    uint32_t CallAddress;
    int32_t ModuleNameIndex;
    int32_t ProcNameIndex;
    int32_t FileNameIndex;
    int32_t FileLineNumber;
    int32_t NestingLevel;
};

class TExcCallStack {
public:
    void Clear();
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    // Copies entry `index` into `item`; out of range leaves it untouched.
    void GetItem(int32_t index, TCallStackItem& item) const;
    void GenerateFromAddr(const void* address, const void* stackPtr, int32_t maxSize, bool suppressRecursion);
    __attribute__((noinline)) void Generate(int32_t maxSize, bool suppressRecursion);
    void Dump(rtl::TStringList& dest) const;

private:
    void AddAddress(uint32_t address, uint32_t& lastAddress);
    std::vector<TCallStackItem> FItems;  // capacity reserved once per generation
};

}  // namespace crash
